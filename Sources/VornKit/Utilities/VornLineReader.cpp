#include "VornLineReader.h"

#include "VornUniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool vornReadLinesBackwards(const std::filesystem::path& file, std::size_t maxLineBytes,
                            const std::function<bool(std::string_view line)>& visit) {
    const VornUniqueFd opened(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened) {
        return false;
    }
    const int descriptor = opened.get();
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }

    constexpr std::size_t blockSize = 64 * 1024;
    std::vector<std::string> pieces;  // the line being assembled, the piece nearest its end first
    std::size_t pieceBytes = 0;
    bool oversized = false;
    // Completes the current line with `head`, its first bytes; false when the visitor has had enough.
    auto finishLine = [&](std::string_view head) -> bool {
        bool keepGoing = true;
        const std::size_t total = pieceBytes + head.size();
        if (!oversized && total > 0 && total <= maxLineBytes) {
            std::string line;
            line.reserve(total);
            line.append(head);
            for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
                line += *it;
            }
            keepGoing = visit(line);
        }
        pieces.clear();
        pieceBytes = 0;
        oversized = false;
        return keepGoing;
    };

    std::string block;
    off_t position = info.st_size;
    while (position > 0) {
        const std::size_t count = static_cast<std::size_t>(std::min<off_t>(position, blockSize));
        position -= static_cast<off_t>(count);
        block.resize(count);
        std::size_t filled = 0;
        while (filled < count) {
            const ssize_t got =
                ::pread(descriptor, block.data() + filled, count - filled, position + static_cast<off_t>(filled));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return true;  // the file shrank or failed under us: what was read is all there is
            }
            filled += static_cast<std::size_t>(got);
        }
        std::size_t end = count;
        while (end > 0) {
            const std::size_t newline = block.rfind('\n', end - 1);
            if (newline == std::string::npos) {
                break;
            }
            if (!finishLine(std::string_view(block).substr(newline + 1, end - newline - 1))) {
                return true;
            }
            end = newline;
        }
        if (end > 0 && !oversized) {
            pieceBytes += end;
            if (pieceBytes > maxLineBytes) {
                oversized = true;
                pieces.clear();
            } else {
                pieces.emplace_back(block, 0, end);
            }
        }
    }
    finishLine({});
    return true;
}
