#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The exclusion patterns of a walk or a sync plan, prepared once so that matching many names
// trims and folds each pattern only once.
//
// Each pattern is trimmed of white space and line breaks at both ends; a blank one is dropped.
// A pattern that starts with "*." matches names whose case-folded form ends with the case-folded
// rest after the "*" ("*.LOG" matches "app.log", "*.tar.gz" matches "a.tar.gz"). Any other pattern
// matches a name equal to it without regard to case. There are no other wildcards ("*" and "foo*"
// only match names that are literally that text), and patterns see a name, never a path.
// Case folding is ICU's root-locale folding, the same for every user.
class SyncExclusionPatterns {
public:
    SyncExclusionPatterns() = default;
    explicit SyncExclusionPatterns(const std::vector<std::string>& patterns);

    // True when some pattern matches `name`.
    bool excludes(std::string_view name) const;

    // No usable pattern: nothing is ever excluded.
    bool empty() const { return suffixes_.empty() && names_.empty(); }

private:
    std::vector<std::string> suffixes_;        // folded endings, each starting with "."
    std::unordered_set<std::string> names_;    // folded whole names
};
