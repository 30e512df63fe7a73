// LAN server throughput on loopback, beside peers measured in the same run:
//   upload   - LANSledServer (write, SHA-256, fsync, rename) against socat draining to /dev/null,
//              the ceiling of one TCP stream on this machine;
//   download - LANSledServer against Python's http.server serving the same file.
// Prints each pair's ratio at the end (ours / peer; above 1 is faster).
#include "LANSledServer.h"
#include "VornChecksum.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace {

constexpr std::int64_t payloadBytes = 64 << 20;

struct Fixture {
    std::filesystem::path root;
    std::filesystem::path payloadPath;
    std::string payload;
    std::unique_ptr<LANSledServer> server;
    std::uint16_t serverPort = 0;
    pid_t sink = -1;
    std::uint16_t sinkPort = 0;
    pid_t python = -1;
    std::uint16_t pythonPort = 0;

    static Fixture& shared() {
        static Fixture fixture;
        return fixture;
    }

    Fixture() {
        root = std::filesystem::temp_directory_path() / ("vornsled-bench-lan-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root / "shelf");
        payload.resize(payloadBytes);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<char>((i * 2654435761u) >> 24);
        }
        payloadPath = root / "shelf" / "payload.bin";
        std::ofstream(payloadPath, std::ios::binary).write(payload.data(), static_cast<std::streamsize>(payload.size()));

        server = std::make_unique<LANSledServer>("Bench", root / "in", false, "");
        server->setSharedFiles({{"payload", "payload.bin", payloadPath.string(), payloadBytes, VornSHA256::hexDigest(payload)}});
        serverPort = server->start(0, false, {});

        sinkPort = freePort();
        sink = spawn({"socat", "-u", "TCP-LISTEN:" + std::to_string(sinkPort) + ",bind=127.0.0.1,reuseaddr,fork", "OPEN:/dev/null"});
        pythonPort = freePort();
        python = spawn({"python3", "-m", "http.server", std::to_string(pythonPort), "--bind", "127.0.0.1", "--directory",
                        (root / "shelf").string()});
        waitForListener(sinkPort);
        waitForListener(pythonPort);
    }

    ~Fixture() {
        server.reset();
        for (const pid_t pid : {sink, python}) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    static std::uint16_t freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        return ntohs(address.sin_port);
    }

    static pid_t spawn(const std::vector<std::string>& arguments) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            std::freopen("/dev/null", "w", stderr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }

    static void waitForListener(std::uint16_t port) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int fd = connectTo(port);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    static int connectTo(std::uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
};

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::int64_t readToEnd(int fd) {
    static thread_local std::vector<char> buffer(1 << 20);
    std::int64_t total = 0;
    while (true) {
        const ssize_t count = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (count <= 0) {
            return total;
        }
        total += count;
    }
}

// One request on a fresh connection: head, body, end of sending, whole answer.
std::int64_t exchange(std::uint16_t port, const std::string& head, std::string_view body) {
    const int fd = Fixture::connectTo(port);
    if (fd < 0) {
        return -1;
    }
    sendAll(fd, head.data(), head.size());
    sendAll(fd, body.data(), body.size());
    ::shutdown(fd, SHUT_WR);
    const std::int64_t received = readToEnd(fd);
    ::close(fd);
    return received;
}

void uploadTo(benchmark::State& state, bool ours) {
    Fixture& fixture = Fixture::shared();
    const std::string head = "POST /api/v1/upload HTTP/1.1\r\nX-VornSled-Filename: payload.bin\r\nContent-Length: " +
                             std::to_string(payloadBytes) + "\r\n\r\n";
    for (auto _ : state) {
        if (exchange(ours ? fixture.serverPort : fixture.sinkPort, head, fixture.payload) < 0) {
            state.SkipWithError("peer not reachable");
            break;
        }
        if (ours) {
            state.PauseTiming();
            std::error_code ignored;
            std::filesystem::remove_all(fixture.root / "in", ignored);
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

void downloadFrom(benchmark::State& state, bool ours) {
    Fixture& fixture = Fixture::shared();
    const std::string head = ours ? "GET /api/v1/download/payload HTTP/1.1\r\n\r\n"
                                  : "GET /payload.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    for (auto _ : state) {
        if (exchange(ours ? fixture.serverPort : fixture.pythonPort, head, {}) < payloadBytes) {
            state.SkipWithError("short download");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

void BM_UploadLANSledServer(benchmark::State& state) { uploadTo(state, true); }
void BM_UploadPeerSocatSink(benchmark::State& state) { uploadTo(state, false); }
void BM_DownloadLANSledServer(benchmark::State& state) { downloadFrom(state, true); }
void BM_DownloadPeerPythonHTTPServer(benchmark::State& state) { downloadFrom(state, false); }

BENCHMARK(BM_UploadLANSledServer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_UploadPeerSocatSink)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_DownloadLANSledServer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_DownloadPeerPythonHTTPServer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

// Keeps each run's throughput to print the ratios after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end()) {
                throughput_[run.benchmark_name()] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        printRatio("upload   LANSledServer / socat sink        ", "BM_UploadLANSledServer", "BM_UploadPeerSocatSink");
        printRatio("download LANSledServer / python http.server", "BM_DownloadLANSledServer",
                   "BM_DownloadPeerPythonHTTPServer");
    }

private:
    // Names carry suffixes such as "/min_time:2.000/real_time"; the base name is what we know.
    double throughputOf(const std::string& base) const {
        for (const auto& [name, rate] : throughput_) {
            if (name == base || name.starts_with(base + "/")) {
                return rate;
            }
        }
        return 0;
    }
    void printRatio(const char* label, const std::string& ours, const std::string& peer) const {
        const double a = throughputOf(ours);
        const double b = throughputOf(peer);
        if (a > 0 && b > 0) {
            std::printf("ratio %s: %.2f\n", label, a / b);
        }
    }
    std::map<std::string, double> throughput_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
