# Every dependency is a Debian 12 package; scripts/setup.sh installs them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(EXPAT REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(ICU 72 REQUIRED COMPONENTS uc i18n)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
pkg_check_modules(AVAHI REQUIRED IMPORTED_TARGET avahi-client)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
# GIO moves deleted files to the freedesktop Trash (libglib2.0-dev comes with libsecret-1-dev).
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)

# Standalone asio is header-only; it has no CMake package of its own.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(vorn_asio INTERFACE)
target_include_directories(vorn_asio SYSTEM INTERFACE "${ASIO_INCLUDE_DIR}")
target_compile_definitions(vorn_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(vorn_asio INTERFACE Threads::Threads)

if(VORN_BUILD_APP)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Svg Network Test)
endif()
