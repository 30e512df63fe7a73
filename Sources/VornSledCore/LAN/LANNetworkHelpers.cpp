#include "LANNetworkHelpers.h"

#include "VornUUID.h"
#include "VornUnicode.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <qrencode.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

namespace {

bool somethingExists(const std::filesystem::path& path) {
    // lstat: a dangling symbolic link still occupies the name.
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// A name whose parts fit the file system's limit: the base is shortened, the suffix (" (n)") and
// the extension are kept whole. An extension too long to keep counts as part of the base.
std::string fittedName(std::string_view base, std::string_view suffix, std::string_view extension) {
    constexpr std::size_t limit = LANNetworkHelpers::maximumFileNameBytes;
    std::string tail(suffix);
    if (!extension.empty()) {
        tail += '.';
        tail += extension;
    }
    if (base.size() + tail.size() <= limit) {
        return std::string(base) + tail;
    }
    if (tail.size() + 16 > limit) {
        // A giant extension: keep the start of the whole name instead.
        std::string whole(base);
        if (!extension.empty()) {
            whole += '.';
            whole += extension;
        }
        return std::string(LANNetworkHelpers::utf8Prefix(whole, limit - suffix.size())) + std::string(suffix);
    }
    return std::string(LANNetworkHelpers::utf8Prefix(base, limit - tail.size())) + tail;
}

struct InterfaceAddress {
    std::string interfaceName;
    std::string address;
};

std::vector<InterfaceAddress> lanInterfaceAddresses() {
    std::vector<InterfaceAddress> kept;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return kept;
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> guard(list, &::freeifaddrs);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        char host[NI_MAXHOST] = {};
        if (::getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
            continue;
        }
        std::string address(host);
        if (address.starts_with("169.254.")) {
            continue;
        }
        kept.push_back({entry->ifa_name != nullptr ? entry->ifa_name : "", std::move(address)});
    }
    std::stable_sort(kept.begin(), kept.end(), [](const InterfaceAddress& a, const InterfaceAddress& b) {
        return a.interfaceName < b.interfaceName;
    });
    return kept;
}

// The interface of the IPv4 default route with the lowest metric, from the kernel's route table.
std::optional<std::string> defaultRouteInterface() {
    std::ifstream table("/proc/net/route");
    if (!table) {
        return std::nullopt;
    }
    std::string line;
    std::getline(table, line);  // column titles
    std::optional<std::string> best;
    long bestMetric = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) {
            continue;
        }
        constexpr unsigned long routeUp = 0x1;
        const unsigned long flagBits = std::strtoul(flags.c_str(), nullptr, 16);
        if (destination != "00000000" || mask != "00000000" || (flagBits & routeUp) == 0) {
            continue;
        }
        const long metricValue = std::strtol(metric.c_str(), nullptr, 10);
        if (!best || metricValue < bestMetric) {
            best = name;
            bestMetric = metricValue;
        }
    }
    return best;
}

}  // namespace

std::string_view LANNetworkHelpers::utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const VornCodePoint point = VornUnicode::decodeUTF8(text, offset);
        if (offset + point.length > maxBytes) {
            break;
        }
        offset += point.length;
        end = offset;
    }
    return text.substr(0, end);
}

std::filesystem::path LANNetworkHelpers::uniqueSaveURL(const std::filesystem::path& directory, std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot != 0 && dot + 1 < fileName.size();
    const std::string_view base = hasExtension ? fileName.substr(0, dot) : fileName;
    const std::string_view extension = hasExtension ? fileName.substr(dot + 1) : std::string_view();

    const std::filesystem::path first = directory / fittedName(base, "", extension);
    if (!somethingExists(first)) {
        return first;
    }
    for (int i = 1; i <= 9999; ++i) {
        const std::filesystem::path candidate = directory / fittedName(base, " (" + std::to_string(i) + ")", extension);
        if (!somethingExists(candidate)) {
            return candidate;
        }
    }
    const std::string prefixed = VornUUID::random().uuidString() + "-" + std::string(fileName);
    return directory / std::string(utf8Prefix(prefixed, maximumFileNameBytes));
}

std::vector<std::string> LANNetworkHelpers::localIPv4Addresses() {
    std::vector<std::string> addresses;
    for (InterfaceAddress& entry : lanInterfaceAddresses()) {
        addresses.push_back(std::move(entry.address));
    }
    if (addresses.empty()) {
        addresses.emplace_back("127.0.0.1");
    }
    return addresses;
}

std::string LANNetworkHelpers::primaryLANIPv4() {
    const std::vector<InterfaceAddress> addresses = lanInterfaceAddresses();
    if (addresses.empty()) {
        return "127.0.0.1";
    }
    if (const std::optional<std::string> routeInterface = defaultRouteInterface()) {
        for (const InterfaceAddress& entry : addresses) {
            if (entry.interfaceName == *routeInterface) {
                return entry.address;
            }
        }
    }
    return addresses.front().address;
}

std::optional<LANQRCodeImage> LANNetworkHelpers::generateQRCodeImage(std::string_view text, double size) {
    if (text.empty() || text.size() > 4096) {
        return std::nullopt;
    }
    const std::unique_ptr<QRcode, decltype(&::QRcode_free)> code(
        ::QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                            QR_ECLEVEL_M),
        &::QRcode_free);
    if (!code || code->width < 1) {
        return std::nullopt;
    }
    constexpr int border = 1;
    const int natural = code->width + 2 * border;
    double factor = std::isfinite(size) ? size / natural : 1.0;
    factor = std::max(factor, 1.0);
    const int edge = std::min(static_cast<int>(std::lround(natural * factor)), 8192);
    if (edge < natural) {
        return std::nullopt;
    }

    LANQRCodeImage image;
    image.pixelWidth = edge;
    image.pixelHeight = edge;
    image.displaySize = size;
    image.pixels.assign(static_cast<std::size_t>(edge) * edge, 255);
    for (int y = 0; y < edge; ++y) {
        const int moduleY = std::min(static_cast<int>(y / factor), natural - 1) - border;
        for (int x = 0; x < edge; ++x) {
            const int moduleX = std::min(static_cast<int>(x / factor), natural - 1) - border;
            if (moduleX < 0 || moduleY < 0 || moduleX >= code->width || moduleY >= code->width) {
                continue;
            }
            const unsigned char module = code->data[static_cast<std::size_t>(moduleY) * code->width + moduleX];
            if ((module & 0x1) != 0) {
                image.pixels[static_cast<std::size_t>(y) * edge + x] = 0;
            }
        }
    }
    return image;
}
