#include "VornProcessError.h"

#include "VornLanguage.h"
#include "VornLocalizationStore.h"
#include "VornUnicode.h"

#include <optional>
#include <string_view>

namespace {

// The user's texts are chosen for the current interface language when they are read.
std::string localized(std::string_view en, std::string_view tr) {
    return vornText(en, tr, std::nullopt, VornLanguage::current());
}

std::string exitCodeText(std::int32_t code) {
    return "Process exited with code " + std::to_string(code) + ".";
}

}  // namespace

VornProcessError::VornProcessError(Kind kind, std::string name, std::int32_t code, std::string standardError)
    : kind_(kind), name_(std::move(name)), code_(code), stderr_(std::move(standardError)) {
    switch (kind_) {
    case Kind::binaryNotFound:
        english_ = "Required executable '" + name_ + "' was not found.";
        break;
    case Kind::nonZeroExit: {
        std::string trimmed = VornUnicode::trimmed(stderr_);
        english_ = trimmed.empty() ? exitCodeText(code_) : std::move(trimmed);
        break;
    }
    case Kind::cancelled:
        english_ = "Operation cancelled.";
        break;
    }
}

VornProcessError VornProcessError::binaryNotFound(std::string name) {
    return VornProcessError(Kind::binaryNotFound, std::move(name), 0, {});
}

VornProcessError VornProcessError::nonZeroExit(std::int32_t code, std::string standardError) {
    return VornProcessError(Kind::nonZeroExit, {}, code, std::move(standardError));
}

VornProcessError VornProcessError::cancelled() { return VornProcessError(Kind::cancelled, {}, 0, {}); }

std::string VornProcessError::description() const {
    switch (kind_) {
    case Kind::binaryNotFound:
        return localized(english_, "Gerekli '" + name_ + "' aracı bulunamadı.");
    case Kind::nonZeroExit:
        // The tool's own words, or a code; the same in every language.
        return english_;
    case Kind::cancelled:
        return localized(english_, "İşlem iptal edildi.");
    }
    return english_;
}
