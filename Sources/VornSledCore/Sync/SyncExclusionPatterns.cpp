#include "SyncExclusionPatterns.h"

#include "VornUnicode.h"

#include <algorithm>

SyncExclusionPatterns::SyncExclusionPatterns(const std::vector<std::string>& patterns) {
    for (const std::string& raw : patterns) {
        const std::string pattern = VornUnicode::trimmed(raw);
        if (pattern.empty()) {
            continue;
        }
        if (pattern.starts_with("*.")) {
            std::string suffix = VornUnicode::caseFolded(std::string_view(pattern).substr(1));
            if (std::find(suffixes_.begin(), suffixes_.end(), suffix) == suffixes_.end()) {
                suffixes_.push_back(std::move(suffix));
            }
        } else {
            names_.insert(VornUnicode::caseFolded(pattern));
        }
    }
}

bool SyncExclusionPatterns::excludes(std::string_view name) const {
    if (empty()) {
        return false;
    }
    const std::string folded = VornUnicode::caseFolded(name);
    if (names_.contains(folded)) {
        return true;
    }
    // A folded ending starts with ".", an ASCII byte, so a byte-wise match always starts on a
    // character boundary of the folded name.
    return std::any_of(suffixes_.begin(), suffixes_.end(),
                       [&](const std::string& suffix) { return folded.ends_with(suffix); });
}
