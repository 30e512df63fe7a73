#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A QR code drawn as an 8-bit grey bitmap (0 black, 255 white), one byte per pixel, rows top to
// bottom. `displaySize` is the edge length in device-independent pixels the caller asked for; the
// bitmap itself may be smaller when that size is below the bare code's natural size.
struct LANQRCodeImage {
    int pixelWidth = 0;
    int pixelHeight = 0;
    double displaySize = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t pixel(int x, int y) const { return pixels[static_cast<std::size_t>(y) * pixelWidth + x]; }
};

// The stateless helpers of LAN sharing. Every operation may be called from any thread and never
// throws.
struct LANNetworkHelpers {
    LANNetworkHelpers() = delete;

    // The longest file name the file systems we write to accept, in bytes.
    static constexpr std::size_t maximumFileNameBytes = 255;

    // One safe file name made from a name a peer sent: no path separators, no control or format
    // characters, no leading dots, no "..", never empty. Lives in its own source file so that code
    // without the server (the transfer engine) can link it alone.
    static std::string sanitizeIncomingFileName(std::string_view name);

    // A path inside `directory` where nothing exists yet: the name itself, else "base (n).ext" for
    // the first free n in 1...9999, else a UUID-prefixed name. Names longer than the file system
    // allows are shortened (at a character boundary, keeping the extension) so the result can be
    // created. The caller must still create it without replacing anything: another writer may take
    // the name between this check and the creation.
    static std::filesystem::path uniqueSaveURL(const std::filesystem::path& directory, std::string_view fileName);

    // The longest prefix of `text` of at most `maxBytes` bytes that ends on a character boundary.
    static std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

    // This machine's IPv4 addresses on interfaces that are up, not loopback and not link-local,
    // ordered by interface name; ["127.0.0.1"] when there is none.
    static std::vector<std::string> localIPv4Addresses();

    // The address a phone on the LAN most likely reaches: the one on the interface that carries
    // the default route, else the first of localIPv4Addresses().
    static std::string primaryLANIPv4();

    // The QR code (error correction level M, byte mode, a one-module light border) of the UTF-8
    // text, scaled to `size` pixels but never below its natural size of one pixel per module;
    // nothing when no code can be made (empty or too long a text).
    static std::optional<LANQRCodeImage> generateQRCodeImage(std::string_view text, double size);

    // The names by which this machine may be asked for, lower-case and without a trailing dot:
    // the host name as set, its first label alone, that label with ".local", the resolver's
    // canonical name for it (may be empty) and the label under each search domain the resolver
    // configuration text names ("search" and "domain" lines).
    static std::vector<std::string> machineNames(std::string_view hostName, std::string_view canonicalName,
                                                 std::string_view resolverConfiguration);
    // The same for this machine now; the canonical name only when asked for, since its lookup
    // may block for as long as the resolver waits for an answer.
    static std::vector<std::string> currentMachineNames(bool withCanonicalName);
    // Whether a request's Host field names this machine in a way no other party can point
    // elsewhere: an IPv4 literal, a bracketed IPv6 literal, "localhost", or one of `ownNames`;
    // with an optional decimal port and an optional trailing dot on a name.
    static bool hostNamesThisMachine(std::string_view host, const std::vector<std::string>& ownNames);
    // The part of a peer's address that one party holds, as the key its shares and penalties are
    // counted under: an IPv4 address whole (also when written IPv4-mapped), an IPv6 address's
    // /64 ("2001:db8:1:2::/64"), since one host is handed a whole /64. Other text stays as it is.
    static std::string peerGroup(std::string_view address);
};
