#pragma once

#include "VornLanguage.h"

#include <cstdint>
#include <exception>
#include <string>

// The one error type of the transfer domain: a kind and its payload. The user-facing text is built
// when it is asked for, in the interface language of that moment; what() is English, for logs.
class SledError : public std::exception {
public:
    enum class Kind {
        invalidProfile,       // message: what is wrong with the connection profile
        missingCredential,    // message: which credential is missing
        connectionFailed,     // message: reason
        remoteCommandFailed,  // message: output or message of the failed operation
        httpStatus,           // statusCode and message
        checksumMismatch,     // fileName, expected and actual SHA-256 digests
        invalidPIN,
        xmlParseFailed,
        cancelled,
    };

    static SledError invalidProfile(std::string message);
    static SledError missingCredential(std::string message);
    static SledError connectionFailed(std::string message);
    static SledError remoteCommandFailed(std::string message);
    static SledError httpStatus(std::int64_t statusCode, std::string message);
    static SledError checksumMismatch(std::string fileName, std::string expected, std::string actual);
    static SledError invalidPIN();
    static SledError xmlParseFailed();
    static SledError cancelled();

    Kind kind() const noexcept { return kind_; }
    // The text payload of invalidProfile, missingCredential, connectionFailed, remoteCommandFailed
    // and httpStatus; empty for the other kinds.
    const std::string& message() const noexcept { return message_; }
    // httpStatus only; 0 otherwise.
    std::int64_t statusCode() const noexcept { return statusCode_; }
    // checksumMismatch only; empty otherwise.
    const std::string& fileName() const noexcept { return fileName_; }
    const std::string& expected() const noexcept { return expected_; }
    const std::string& actual() const noexcept { return actual_; }

    // The user-facing text in VornLanguage::current(), through the text lookup (so overrides and
    // catalogs apply). This is the text that transfer rows and status lines show.
    std::string description() const;
    std::string description(VornLanguage language) const;
    // The English text, for logs.
    const char* what() const noexcept override { return english_.c_str(); }

private:
    SledError(Kind kind, std::string message, std::int64_t statusCode, std::string fileName, std::string expected,
              std::string actual);

    std::string englishText() const;
    std::string turkishText() const;

    Kind kind_;
    std::string message_;
    std::int64_t statusCode_ = 0;
    std::string fileName_;
    std::string expected_;
    std::string actual_;
    std::string english_;
};
