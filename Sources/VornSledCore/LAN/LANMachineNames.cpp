#include "LANNetworkHelpers.h"

#include "VornASCII.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string normalisedName(std::string_view name) {
    std::string lower = VornASCII::lowercased(name);
    if (lower.ends_with('.')) {
        lower.pop_back();
    }
    return lower;
}

void addName(std::vector<std::string>& names, std::string_view name) {
    std::string normal = normalisedName(name);
    if (normal.empty() || normal.find_first_of(" \t/\\") != std::string::npos ||
        std::find(names.begin(), names.end(), normal) != names.end()) {
        return;
    }
    names.push_back(std::move(normal));
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<std::string> LANNetworkHelpers::machineNames(std::string_view hostName, std::string_view canonicalName,
                                                          std::string_view resolverConfiguration) {
    std::vector<std::string> names;
    const std::string host = normalisedName(hostName);
    if (host.empty()) {
        return names;
    }
    const std::string label = host.substr(0, host.find('.'));
    addName(names, host);
    addName(names, label);
    addName(names, label + ".local");
    addName(names, canonicalName);
    std::istringstream lines{std::string(resolverConfiguration)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        if (keyword != "search" && keyword != "domain") {
            continue;
        }
        std::string domain;
        while (words >> domain) {
            if (domain.starts_with('#') || domain.starts_with(';')) {
                break;
            }
            const std::string suffix = normalisedName(domain);
            if (!suffix.empty()) {
                addName(names, label + "." + suffix);
            }
        }
    }
    return names;
}

std::vector<std::string> LANNetworkHelpers::currentMachineNames(bool withCanonicalName) {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    const std::string hostName(buffer);
    std::string canonical;
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (withCanonicalName && ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found) == 0 && found != nullptr) {
        if (found->ai_canonname != nullptr) {
            canonical = found->ai_canonname;
        }
        ::freeaddrinfo(found);
    }
    std::ifstream file("/etc/resolv.conf");
    const std::string configuration((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return machineNames(hostName, canonical, configuration);
}

bool LANNetworkHelpers::hostNamesThisMachine(std::string_view host, const std::vector<std::string>& ownNames) {
    std::string_view name = host;
    if (name.starts_with('[')) {
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        const std::string_view after = name.substr(close + 1);
        if (!after.empty() && !(after.starts_with(':') && allDigits(after.substr(1)))) {
            return false;
        }
        std::string literal(name.substr(1, close - 1));
        // A zone ("%25eth0" as a URL writes it) names the interface, not another host.
        literal = literal.substr(0, literal.find('%'));
        in6_addr address {};
        return ::inet_pton(AF_INET6, literal.c_str(), &address) == 1;
    }
    if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos) {
        if (!allDigits(name.substr(colon + 1))) {
            return false;
        }
        name = name.substr(0, colon);
    }
    if (name.empty()) {
        return false;
    }
    in_addr address {};
    if (::inet_pton(AF_INET, std::string(name).c_str(), &address) == 1) {
        return true;
    }
    const std::string normal = normalisedName(name);
    return normal == "localhost" || std::find(ownNames.begin(), ownNames.end(), normal) != ownNames.end();
}

std::string LANNetworkHelpers::peerGroup(std::string_view address) {
    const std::string text(address.substr(0, address.find('%')));
    in_addr v4 {};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        return text;
    }
    in6_addr v6 {};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1) {
        return std::string(address);
    }
    char buffer[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return ::inet_ntop(AF_INET, &v4, buffer, sizeof buffer) != nullptr ? std::string(buffer) : text;
    }
    std::fill(std::begin(v6.s6_addr) + 8, std::end(v6.s6_addr), std::uint8_t{0});
    return ::inet_ntop(AF_INET6, &v6, buffer, sizeof buffer) != nullptr ? std::string(buffer) + "/64" : text;
}
