#include "RelativeFileNode.h"

#include "VornHash.h"

std::optional<std::string> RelativeFileNode::parentRelativeDirectory() const {
    const std::size_t slash = relativePath.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return std::nullopt;
    }
    return relativePath.substr(0, slash);
}

std::size_t std::hash<RelativeFileNode>::operator()(const RelativeFileNode& node) const noexcept {
    std::size_t seed = 0;
    vornHashCombine(seed, node.relativePath);
    vornHashCombine(seed, node.entry);
    return seed;
}
