#pragma once

#include <string>
#include <string_view>

// The MD5 of `bytes` as 32 lower-case hexadecimal digits (what S3 gives as the entity tag of an
// object stored in one PUT).
std::string vornTestMD5Hex(std::string_view bytes);
