#pragma once

#include "VornLanguage.h"

#include <string>
#include <system_error>

// The reason a system call gave for failing, as the user reads it: the reasons people meet (a
// missing file, no permission, a full disk, a refused connection) in the chosen language; any
// other reason, and every reason in English, as the C library words it.
std::string vornSystemErrorText(std::error_code code, VornLanguage language = VornLanguage::current());
std::string vornSystemErrorText(int errorNumber, VornLanguage language = VornLanguage::current());
