#pragma once

#include <stdexcept>
#include <string>

// A JSON document, or a value inside it, does not have the form the reader expects: a missing
// key, a value of the wrong type, an out-of-range number or an unknown enumeration text.
// The message names what was wrong and where.
class VornDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
