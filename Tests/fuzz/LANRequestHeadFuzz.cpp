// libFuzzer entry point for the LAN request-head parser and the file-name sanitiser that the
// upload route applies to what the parser hands it. Any bytes must parse or be refused without
// undefined behaviour, and the results must keep their promises. Built and run by
// Tests/VornSledCore/LAN/request_head_fuzz.test.sh.
#include "LANNetworkHelpers.h"
#include "LANRequestHead.h"
#include "VornUnicode.h"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<LANRequestHead> head = LANRequestHead::parse(bytes);
    if (!head) {
        return 0;
    }
    require(!head->method.empty() && !head->target.empty());
    for (const char c : head->method) {
        require(!(c >= 'a' && c <= 'z'));
    }
    require(VornUnicode::isValidUTF8(head->path));
    require(head->contentLength() >= 0);
    (void)head->presentedPIN();
    for (const auto& [name, value] : head->headers) {
        require(name.find("\r\n") == std::string::npos && value.find("\r\n") == std::string::npos);
    }
    const std::string name = LANNetworkHelpers::sanitizeIncomingFileName(
        lanPercentDecodedOrSelf(head->header("x-vornsled-filename").value_or(head->target)));
    require(!name.empty());
    require(name.find('/') == std::string::npos && name.find('\0') == std::string::npos);
    require(name.front() != '.' && name.find("..") == std::string::npos);
    require(VornUnicode::isValidUTF8(name));
    return 0;
}
