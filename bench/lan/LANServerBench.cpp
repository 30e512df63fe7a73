// LAN throughput on loopback, each of ours beside a peer doing the same work in the same run:
//   upload    curl -> LANSledServer (write, SHA-256, fsync, rename)
//             beside socat -> tee file | sha256sum, then `sync file` (the same work through the
//             loopback limit of plain tools);
//   download  curl <- LANSledServer beside curl <- python3 http.server, the same file;
//   client    LANSledClient::sendFilesInParallel (many small files, then one large file) to our
//             server beside curl uploads of the same files (xargs -P, the same PIN and headers).
// Every pair runs alternately, `--repetitions` times; the best time of each counts. Ratios are
// ours / peer in throughput (above 1: ours is faster).
//
//   bench_lan [--big] [--size MIB] [--repetitions N] [--width N] [--small-files N]
//   --big    the large payload is 1 GiB (default 256 MiB)
#include "LANSledClient.h"
#include "LANSledServer.h"
#include "VornChecksum.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::int64_t mebibyte = 1 << 20;
constexpr const char* benchPIN = "482913";

struct Options {
    std::int64_t largeBytes = 256 * mebibyte;
    int repetitions = 3;
    int width = 4;
    int smallFiles = 200;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&]() -> int {
            if (i + 1 >= argc) {
                throw std::invalid_argument(argument + " needs a value");
            }
            return std::stoi(argv[++i]);
        };
        if (argument == "--big") {
            options.largeBytes = 1024 * mebibyte;
        } else if (argument == "--size") {
            options.largeBytes = static_cast<std::int64_t>(value()) * mebibyte;
        } else if (argument == "--repetitions") {
            options.repetitions = std::max(1, value());
        } else if (argument == "--width") {
            options.width = std::clamp(value(), 1, LANSledClient::maximumParallelUploads);
        } else if (argument == "--small-files") {
            options.smallFiles = std::max(1, value());
        } else {
            throw std::invalid_argument("unknown option " + argument);
        }
    }
    return options;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

pid_t spawnShell(const std::string& command) {
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        throw std::runtime_error("cannot start /bin/sh");
    }
    return pid;
}

void runShell(const std::string& command) {
    int status = 0;
    ::waitpid(spawnShell(command), &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("peer command failed: " + command);
    }
}

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

void waitForListener(std::uint16_t port) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("listener on port " + std::to_string(port) + " never came up");
}

void writePattern(const fs::path& path, std::int64_t bytes, std::uint32_t seed) {
    std::vector<char> block(static_cast<std::size_t>(std::min(bytes, 4 * mebibyte)));
    std::ofstream out(path, std::ios::binary);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::int64_t written = 0; written < bytes;) {
        for (char& c : block) {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        }
        const auto take = static_cast<std::size_t>(std::min<std::int64_t>(bytes - written, static_cast<std::int64_t>(block.size())));
        out.write(block.data(), static_cast<std::streamsize>(take));
        written += static_cast<std::int64_t>(take);
    }
}

void emptyDirectory(const fs::path& directory) {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
    fs::create_directories(directory, ignored);
}

// Runs each contender `repetitions` times, alternating, with `reset` (untimed) before every run;
// returns each one's best time in seconds.
std::vector<double> bestTimes(int repetitions, const std::vector<std::function<void()>>& contenders,
                              const std::function<void()>& reset) {
    std::vector<double> best(contenders.size(), 1e300);
    for (int round = 0; round < repetitions; ++round) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            reset();
            const Clock::time_point start = Clock::now();
            contenders[i]();
            best[i] = std::min(best[i], std::chrono::duration<double>(Clock::now() - start).count());
        }
    }
    return best;
}

void printPair(const char* what, std::int64_t bytes, double ours, const char* peerName, double peer) {
    const auto rate = [&](double seconds) { return static_cast<double>(bytes) / seconds / 1e6; };
    std::printf("%-34s ours %7.3f s %7.1f MB/s | %-38s %7.3f s %7.1f MB/s | ratio %.2f\n", what, ours, rate(ours),
                peerName, peer, rate(peer), peer / ours);
    std::fflush(stdout);
}

struct Bench {
    Options options;
    fs::path root;
    fs::path payload;
    fs::path received;
    std::unique_ptr<LANSledServer> server;
    std::uint16_t port = 0;
    pid_t python = -1;
    std::uint16_t pythonPort = 0;

    explicit Bench(Options chosen) : options(chosen) {
        root = fs::temp_directory_path() / ("vornsled-bench-lan-" + std::to_string(::getpid()));
        fs::create_directories(root / "shelf");
        payload = root / "shelf" / "payload.bin";
        received = root / "in";
        writePattern(payload, options.largeBytes, 1);

        server = std::make_unique<LANSledServer>("Bench", received, true, benchPIN);
        server->setSharedFiles({{"payload", "payload.bin", payload.string(), options.largeBytes,
                                 VornChecksum::sha256(payload)}});
        port = server->start(0, false, {});

        pythonPort = freePort();
        python = spawnShell("exec python3 -m http.server " + std::to_string(pythonPort) + " --bind 127.0.0.1 --directory " +
                            quoted((root / "shelf").string()) + " 2>/dev/null");
        waitForListener(pythonPort);
    }

    ~Bench() {
        server.reset();
        if (python > 0) {
            ::kill(python, SIGTERM);
            ::waitpid(python, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    std::string url(const char* path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    // curl as users run it: its own default headers (for a large body it first asks with
    // "Expect: 100-continue", which the server answers), `file` relative to the current directory.
    // With `hashFirst`, it first does what our client does before sending: hash the file, and send
    // the digest for the server to check.
    std::string curlUpload(const std::string& file, bool hashFirst) const {
        const std::string send = "curl -sS --fail -o /dev/null -H 'Content-Type: application/octet-stream' "
                                 "-H 'X-VornSled-PIN: " + std::string(benchPIN) + "' -H \"X-VornSled-Filename: $1\" ";
        const std::string script =
            hashFirst ? "digest=$(openssl dgst -sha256 -r \"$1\" | cut -d' ' -f1) && " + send +
                            "-H \"X-VornSled-SHA256: $digest\" -X POST -T \"$1\" " + url("/api/v1/upload")
                      : send + "-X POST -T \"$1\" " + url("/api/v1/upload");
        return "sh -c " + quoted(script) + " _ " + file;
    }

    void upload() {
        const fs::path peerFile = root / "peer.bin";
        // The peers hash and write in a pipeline of their own processes and make the file durable
        // with `sync FILE` (an fsync), as the server does before its rename. coreutils sha256sum
        // does not use the processor's SHA instructions, OpenSSL does: the faster one is the limit.
        const auto socatPeer = [&](const std::string& hasher) {
            const std::string p = std::to_string(freePort());
            return "socat -u -b 262144 TCP-LISTEN:" + p + ",bind=127.0.0.1,reuseaddr STDOUT | tee " +
                   quoted(peerFile.string()) + " | " + hasher + " > /dev/null & socat -u -b 262144 OPEN:" +
                   quoted(payload.string()) + " TCP:127.0.0.1:" + p + ",retry=200,interval=0.01 && wait && sync " +
                   quoted(peerFile.string());
        };
        // For scale only: the same bytes through socat with no work at all.
        const std::string p = std::to_string(freePort());
        const std::string bareLoopback = "socat -u -b 262144 TCP-LISTEN:" + p +
                                         ",bind=127.0.0.1,reuseaddr OPEN:/dev/null,wronly & socat -u -b 262144 OPEN:" +
                                         quoted(payload.string()) + " TCP:127.0.0.1:" + p +
                                         ",retry=200,interval=0.01 && wait";
        const std::string coreutilsPeer = socatPeer("sha256sum");
        const std::string opensslPeer = socatPeer("openssl dgst -sha256");
        const std::string ours = "cd " + quoted(payload.parent_path().string()) + " && " + curlUpload("payload.bin", false);
        const std::vector<double> best = bestTimes(
            options.repetitions,
            {[&] { runShell(ours); }, [&] { runShell(coreutilsPeer); }, [&] { runShell(opensslPeer); },
             [&] { runShell(bareLoopback); }},
            [&] {
                emptyDirectory(received);
                std::error_code ignored;
                fs::remove(peerFile, ignored);
            });
        printPair("upload  curl -> LANSledServer", options.largeBytes, best[0], "socat | tee file | sha256sum; sync",
                  best[1]);
        printPair("upload  curl -> LANSledServer", options.largeBytes, best[0], "socat | tee file | openssl; sync",
                  best[2]);
        printPair("upload  curl -> LANSledServer", options.largeBytes, best[0], "socat > /dev/null (no work, scale)",
                  best[3]);
    }

    void download() {
        const std::string ours = "curl -sS --fail -o /dev/null -H 'X-VornSled-PIN: " + std::string(benchPIN) + "' " +
                                 url("/api/v1/download/payload");
        const std::string peer = "curl -sS --fail -o /dev/null http://127.0.0.1:" + std::to_string(pythonPort) + "/payload.bin";
        const std::vector<double> best =
            bestTimes(options.repetitions, {[&] { runShell(ours); }, [&] { runShell(peer); }}, [] {});
        printPair("download curl <- LANSledServer", options.largeBytes, best[0], "curl <- python3 http.server", best[1]);
    }

    void client(const std::string& what, const std::vector<fs::path>& files, int width, std::int64_t bytes) {
        LANPeerInfo peer;
        peer.host = "127.0.0.1";
        peer.port = port;
        peer.requiresPIN = true;
        const LANSledClient client;
        const fs::path listFile = root / "list.txt";
        {
            std::ofstream list(listFile);
            for (const fs::path& file : files) {
                list << file.filename().string() << '\n';
            }
        }
        const auto curlLoop = [&](bool hashFirst) {
            return "cd " + quoted(files.front().parent_path().string()) + " && xargs -P " + std::to_string(width) +
                   " -I{} < " + quoted(listFile.string()) + " " + curlUpload("{}", hashFirst);
        };
        const std::string plainCurl = curlLoop(false);
        const std::string hashingCurl = curlLoop(true);
        const std::vector<double> best = bestTimes(
            options.repetitions,
            {[&] {
                 for (const LANSledSendOutcome& outcome :
                      client.sendFilesInParallel(files, peer, "Bench", std::string(benchPIN), width)) {
                     if (!outcome.succeeded()) {
                         std::rethrow_exception(outcome.error());
                     }
                 }
             },
             [&] { runShell(plainCurl); }, [&] { runShell(hashingCurl); }},
            [&] { emptyDirectory(received); });
        const std::string xargs = "xargs -P " + std::to_string(width);
        printPair(what.c_str(), bytes, best[0], ("curl, " + xargs).c_str(), best[1]);
        printPair(what.c_str(), bytes, best[0], ("openssl dgst, then curl, " + xargs).c_str(), best[2]);
    }

    void clients() {
        const fs::path small = root / "small";
        fs::create_directories(small);
        std::vector<fs::path> files;
        for (int i = 0; i < options.smallFiles; ++i) {
            files.push_back(small / ("file-" + std::to_string(i) + ".bin"));
            writePattern(files.back(), mebibyte, static_cast<std::uint32_t>(i + 2));
        }
        client("client  " + std::to_string(options.smallFiles) + " x 1 MiB, width " + std::to_string(options.width), files,
               options.width, options.smallFiles * mebibyte);
        client("client  one large file", {payload}, 1, options.largeBytes);
    }
};

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parseOptions(argc, argv);
        std::printf("LAN loopback, large payload %lld MiB, best of %d runs; ratio = peer time / our time "
                    "(above 1: ours is faster)\n",
                    static_cast<long long>(options.largeBytes / mebibyte), options.repetitions);
        std::printf("The upload peers do the server's work: hash, write the file, fsync it (`sync FILE`).\n"
                    "Our client hashes each file before sending it (the digest goes in the request head); plain curl\n"
                    "does not, so it is also shown hashing first with openssl and sending the digest.\n");
        Bench bench(options);
        bench.upload();
        bench.download();
        bench.clients();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_lan: %s\n", error.what());
        return 1;
    }
    return 0;
}
