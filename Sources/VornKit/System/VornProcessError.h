#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The failures of running a tool. The runner itself throws only `cancelled`; callers that report
// a missing tool or a failed exit in this type build the other two themselves.
class VornProcessError : public std::exception {
public:
    enum class Kind { binaryNotFound, nonZeroExit, cancelled };

    static VornProcessError binaryNotFound(std::string name);
    static VornProcessError nonZeroExit(std::int32_t code, std::string standardError);
    static VornProcessError cancelled();

    Kind kind() const { return kind_; }
    // binaryNotFound: the tool's name.
    const std::string& name() const { return name_; }
    // nonZeroExit: the exit code and the standard-error text.
    std::int32_t code() const { return code_; }
    const std::string& stderrText() const { return stderr_; }

    // The text for the user, built now in the current interface language.
    std::string description() const;
    // English, for logs.
    const char* what() const noexcept override { return english_.c_str(); }

private:
    VornProcessError(Kind kind, std::string name, std::int32_t code, std::string standardError);

    Kind kind_;
    std::string name_;
    std::int32_t code_ = 0;
    std::string stderr_;
    std::string english_;
};
