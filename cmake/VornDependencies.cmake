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

# Text recognition (with Leptonica, which Tesseract's headers include) and the two OpenCV modules
# phase correlation needs; Debian's core and imgproc packages ship neither a CMake nor a
# pkg-config file of their own.
pkg_check_modules(TESSERACT REQUIRED IMPORTED_TARGET tesseract lept)
# Tesseract parallelises each page with OpenMP; one recognition keeps to its calling thread.
find_package(OpenMP REQUIRED COMPONENTS CXX)
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIBRARY opencv_core REQUIRED)
find_library(OPENCV_IMGPROC_LIBRARY opencv_imgproc REQUIRED)
add_library(vorn_opencv INTERFACE)
target_include_directories(vorn_opencv SYSTEM INTERFACE "${OPENCV_INCLUDE_DIR}")
target_link_libraries(vorn_opencv INTERFACE "${OPENCV_IMGPROC_LIBRARY}" "${OPENCV_CORE_LIBRARY}")

# Standalone asio is header-only; it has no CMake package of its own.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(vorn_asio INTERFACE)
target_include_directories(vorn_asio SYSTEM INTERFACE "${ASIO_INCLUDE_DIR}")
target_compile_definitions(vorn_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(vorn_asio INTERFACE Threads::Threads)

if(VORN_BUILD_APP)
  # Global hot keys grab keys on Qt's own X connection.
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Svg Network Test)
endif()
