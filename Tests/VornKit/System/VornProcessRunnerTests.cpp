#include "VornLanguage.h"
#include "VornProcessError.h"
#include "VornProcessRunner.h"
#include "VornTaskCancelled.h"
#include "VornTestSupport.h"
#include "VornUnicode.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <future>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

VornProcessResult shell(const std::string& script, const VornProcessRunner::OutputHandler& onOutput = {},
                        const std::shared_ptr<VornProcessCancellation>& cancellation = nullptr,
                        std::stop_token stopToken = {}) {
    return VornProcessRunner::run("/bin/sh", {"-c", script}, std::nullopt, std::nullopt, false, cancellation,
                                  onOutput, stopToken);
}

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// What this test process itself passes to every child it starts: the descriptors above 2 without
// close-on-exec (the test runner may hand some down). Runs must add nothing to them.
std::set<std::string> inheritableDescriptorTargets() {
    std::set<std::string> targets;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const std::string fd = entry.path().filename().string();
        if (std::stoi(fd) <= 2) continue;
        const std::string info = vornReadFile("/proc/self/fdinfo/" + fd);
        const auto flags = info.find("flags:\t");
        if (flags == std::string::npos) continue;
        const unsigned long value = std::stoul(info.substr(flags + 7), nullptr, 8);
        std::error_code ignored;
        if ((value & O_CLOEXEC) == 0) targets.insert(fs::read_symlink(entry.path(), ignored).string());
    }
    return targets;
}

// Collects callback chunks from whatever thread calls.
struct Chunks {
    std::mutex lock;
    std::vector<std::string> items;
    void operator()(std::string_view text) {
        std::lock_guard guard(lock);
        items.emplace_back(text);
    }
    std::string joined() {
        std::lock_guard guard(lock);
        std::string all;
        for (const auto& item : items) all += item;
        return all;
    }
};

}  // namespace

TEST(VornProcessRunner, ExitStatusAndBothStreamsAreTheResult) {
    struct Case {
        std::string script;
        std::int32_t exitCode;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases{
        {"exit 0", 0, "", ""},
        {"printf out; printf err >&2; exit 1", 1, "out", "err"},
        {"printf 'line 1\\nline 2\\n'; exit 254", 254, "line 1\nline 2\n", ""},
        {"printf before >&2; kill -KILL $$", 128 + SIGKILL, "", "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const VornProcessResult result = shell(c.script);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.stdout, c.out);
        EXPECT_EQ(result.stderr, c.err);
    }
}

TEST(VornProcessRunner, ArgumentsReachTheChildUnchangedWithoutAShell) {
    EXPECT_EQ(VornProcessRunner::run("/usr/bin/printf", {"[%s]", "a b", "", "$HOME", "'q'", "*"}).stdout,
              "[a b][][$HOME]['q'][*]");
    EXPECT_EQ(VornProcessRunner::run("/bin/echo", {}).stdout, "\n");
}

TEST(VornProcessRunner, WorkingDirectoryAndEnvironmentAdditions) {
    VornTestTempDir dir;
    VornScopedEnv inherited("VORN_RUNNER_INHERITED", std::string("parent"));
    VornScopedEnv replaced("VORN_RUNNER_REPLACED", std::string("parent"));
    const std::string script = "pwd; printf '%s|%s|%s' \"$VORN_RUNNER_INHERITED\" \"$VORN_RUNNER_REPLACED\" "
                               "\"$VORN_RUNNER_ADDED\"";

    const VornProcessResult plain = VornProcessRunner::run("/bin/sh", {"-c", script});
    EXPECT_EQ(plain.stdout, fs::current_path().string() + "\nparent|parent|");

    const VornProcessResult changed = VornProcessRunner::run(
        "/bin/sh", {"-c", script}, dir.path(),
        std::map<std::string, std::string>{{"VORN_RUNNER_REPLACED", "child"}, {"VORN_RUNNER_ADDED", "a b=c"}});
    EXPECT_EQ(changed.stdout, dir.path().string() + "\nparent|child|a b=c");
}

TEST(VornProcessRunner, ChildStartsWithNullInputAndDefaultSignals) {
    // This process ignores SIGPIPE and the calling thread blocks SIGUSR1; neither may reach the child.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);

    const VornProcessResult status = VornProcessRunner::run("/bin/grep", {"-E", "^Sig(Blk|Ign):", "/proc/self/status"});
    const VornProcessResult input = VornProcessRunner::run("/bin/cat", {});

    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGPIPE, &previous, nullptr);

    // Masks in hexadecimal, bit n-1 for signal n. glibc keeps its two internal real-time signals
    // ignored in a spawned child; every standard signal must be at its default and unblocked.
    ASSERT_EQ(status.exitCode, 0);
    const auto mask = [&](const std::string& key) {
        const auto at = status.stdout.find(key + ":\t");
        return at == std::string::npos ? ~0ULL : std::stoull(status.stdout.substr(at + key.size() + 2, 16), nullptr, 16);
    };
    const unsigned long long standardSignals = 0x7FFFFFFFULL;  // signals 1 to 31
    EXPECT_EQ(mask("SigBlk") & standardSignals, 0u) << status.stdout;
    EXPECT_EQ(mask("SigIgn") & standardSignals, 0u) << status.stdout;
    EXPECT_EQ(input.exitCode, 0);
    EXPECT_EQ(input.stdout, "");
}

TEST(VornProcessRunner, CaptureKeepsTheTailUnlessFullOutputIsAsked) {
    VornTestTempDir dir;
    std::string data;
    for (int i = 0; data.size() < 100000; ++i) {
        data += std::to_string(i) + ",";
    }
    data.resize(100000);
    const fs::path file = dir.write("data", data);
    const std::string tail = data.substr(data.size() - VornProcessRunner::tailLimit);

    const std::string both = "cat " + vornShellQuote(file.string()) + "; cat " + vornShellQuote(file.string()) + " >&2";
    const VornProcessResult bounded = VornProcessRunner::run("/bin/sh", {"-c", both}, std::nullopt, std::nullopt, false);
    EXPECT_EQ(bounded.stdout, tail);
    EXPECT_EQ(bounded.stderr, tail);

    const VornProcessResult full = VornProcessRunner::run("/bin/sh", {"-c", both}, std::nullopt, std::nullopt, true);
    EXPECT_EQ(full.stdout, data);
    EXPECT_EQ(full.stderr, tail);  // standard error is always bounded

    // Megabytes on both streams at once: neither the child nor the capture grows without bound.
    const VornProcessResult flood = shell("head -c 6000000 /dev/zero >&2 & head -c 6000000 /dev/zero; wait");
    EXPECT_EQ(flood.exitCode, 0);
    EXPECT_EQ(flood.stdout, std::string(VornProcessRunner::tailLimit, '\0'));
    EXPECT_EQ(flood.stderr, std::string(VornProcessRunner::tailLimit, '\0'));
}

TEST(VornProcessRunner, OutputCallbackGetsWholeCharactersOnly) {
    VornTestTempDir dir;
    const fs::path fifo = dir / "go";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The child writes "a" and the first byte of "ç", then waits until the callback has seen "a"
    // before writing the second byte: the split across reads is certain, not left to timing.
    Chunks chunks;
    bool released = false;
    const VornProcessResult split = shell("printf 'a\\303'; read line < " + vornShellQuote(fifo.string()) +
                                              "; printf '\\247ok'",
                                          [&](std::string_view text) {
                                              chunks(text);
                                              if (!released) {
                                                  released = true;
                                                  std::ofstream(fifo) << "go\n";
                                              }
                                          });
    EXPECT_EQ(chunks.items, (std::vector<std::string>{"a", "\xC3\xA7ok"}));
    EXPECT_EQ(split.stdout, "a\xC3\xA7ok");

    // Invalid bytes arrive replaced; a character cut off by the end of the stream too.
    struct Case {
        std::string printfFormat;
        std::string text;
    };
    const std::vector<Case> cases{
        {"a\\377b", "a\xEF\xBF\xBD" "b"},
        {"x\\303", "x\xEF\xBF\xBD"},
        {"\\355\\240\\200!", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!"},  // an encoded surrogate
        {"\\360\\237\\230\\200 \\342\\202", "\xF0\x9F\x98\x80 \xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printfFormat);
        Chunks got;
        const VornProcessResult result = shell("printf '" + c.printfFormat + "' >&2", std::ref(got));
        EXPECT_EQ(got.joined(), c.text);
        for (const std::string& chunk : got.items) {
            EXPECT_TRUE(VornUnicode::isValidUTF8(chunk));
        }
        EXPECT_EQ(result.stderrString(), c.text);
    }
}

TEST(VornProcessRunner, CancellationTerminatesTheChildAndFailsTheRun) {
    struct Case {
        const char* name;
        std::string script;
    };
    // The second child ignores SIGTERM and is killed once the grace period is over.
    const std::vector<Case> cases{{"polite", "echo $$; exec sleep 30"},
                                  {"stubborn", "trap '' TERM; echo $$; exec sleep 30"},
                                  {"chatty", "echo $$; exec yes"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto token = std::make_shared<VornProcessCancellation>();
        std::promise<pid_t> started;
        std::string first;
        const auto onOutput = [&](std::string_view text) {
            if (first.find('\n') == std::string::npos) {
                first += text;
                if (first.find('\n') != std::string::npos) {
                    started.set_value(std::stoi(first));
                }
            }
        };
        std::jthread canceller([&token, future = started.get_future()]() mutable {
            future.wait();
            token->cancel();
        });
        pid_t pid = 0;
        try {
            shell(c.script, onOutput, token);
            ADD_FAILURE() << "the run was not cancelled";
        } catch (const VornProcessError& error) {
            EXPECT_EQ(error.kind(), VornProcessError::Kind::cancelled);
            EXPECT_STREQ(error.what(), "Operation cancelled.");
            pid = std::stoi(first);
        }
        ASSERT_GT(pid, 0);
        EXPECT_FALSE(vornProcessIsRunning(pid));
        EXPECT_TRUE(token->isCancelled());
    }
}

TEST(VornProcessRunner, StopTokenCancelsAsTheCallersTask) {
    std::stop_source source;
    std::string seen;
    std::jthread stopper;
    EXPECT_THROW(shell("echo started; exec sleep 30",
                       [&](std::string_view text) {
                           seen += text;
                           if (!stopper.joinable()) {
                               stopper = std::jthread([&source] { source.request_stop(); });
                           }
                       },
                       nullptr, source.get_token()),
                 VornTaskCancelled);
    EXPECT_EQ(seen, "started\n");
}

TEST(VornProcessRunner, CancelledBeforeTheRunStartsNoChild) {
    VornTestTempDir dir;
    const std::string script = "touch " + vornShellQuote((dir / "ran").string());

    auto token = std::make_shared<VornProcessCancellation>();
    token->cancel();
    for (int attempt = 0; attempt < 2; ++attempt) {  // a cancelled token stays cancelled
        try {
            shell(script, {}, token);
            ADD_FAILURE() << "the run was not refused";
        } catch (const VornProcessError& error) {
            EXPECT_EQ(error.kind(), VornProcessError::Kind::cancelled);
        }
    }
    std::stop_source source;
    source.request_stop();
    EXPECT_THROW(shell(script, {}, nullptr, source.get_token()), VornTaskCancelled);
    EXPECT_FALSE(fs::exists(dir / "ran"));

    // An uncancelled token serves several runs in turn.
    auto reusable = std::make_shared<VornProcessCancellation>();
    EXPECT_EQ(shell("exit 3", {}, reusable).exitCode, 3);
    EXPECT_EQ(shell("exit 4", {}, reusable).exitCode, 4);
}

TEST(VornProcessRunner, ConcurrentRunsShareNoDescriptors) {
    // A long-lived run is under way while a second one starts and ends. Neither child may hold
    // a descriptor of the other run (a pipe end that leaked would keep a sibling's run open).
    auto token = std::make_shared<VornProcessCancellation>();
    std::promise<pid_t> started;
    std::string first;
    std::jthread longRun([&] {
        try {
            shell("echo $$; exec sleep 60", [&](std::string_view text) {
                first += text;
                if (first.ends_with('\n')) started.set_value(std::stoi(first));
            }, token);
        } catch (const VornProcessError&) {
        }
    });
    const pid_t longPid = started.get_future().get();
    const std::set<std::string> inherited = inheritableDescriptorTargets();
    const auto unexpected = [&](const std::string& lines) {
        std::string extra;
        std::istringstream in(lines);
        for (std::string line; std::getline(in, line);) {
            if (!inherited.contains(line)) extra += line + "\n";
        }
        return extra;
    };

    const std::string listExtraDescriptors =
        "for f in /proc/$$/fd/*; do n=${f##*/}; [ \"$n\" -gt 2 ] && readlink \"$f\"; done; exit 0";
    const VornProcessResult shortRun = shell(listExtraDescriptors);
    EXPECT_EQ(shortRun.exitCode, 0);
    EXPECT_EQ(unexpected(shortRun.stdout), "");

    std::string longChildDescriptors;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(longPid) + "/fd")) {
        if (std::stoi(entry.path().filename().string()) > 2) {
            longChildDescriptors += fs::read_symlink(entry.path()).string() + "\n";
        }
    }
    EXPECT_EQ(unexpected(longChildDescriptors), "");

    token->cancel();
    longRun.join();
    EXPECT_FALSE(vornProcessIsRunning(longPid));
}

TEST(VornProcessRunner, DescendantHoldingThePipeDoesNotHoldTheRun) {
    const VornProcessResult result = shell("sleep 60 & echo $!; echo done >&2");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.stderr, "done\n");
    const pid_t grandchild = std::stoi(result.stdout);
    ASSERT_GT(grandchild, 0);
    ::kill(grandchild, SIGKILL);
}

TEST(VornProcessRunner, BadLaunchesFailClearly) {
    VornTestTempDir dir;
    const fs::path notExecutable = dir.write("script.sh", "#!/bin/sh\n");
    fs::permissions(notExecutable, fs::perms(0644));

    struct Case {
        const char* name;
        fs::path executable;
        std::optional<fs::path> workingDirectory;
        int error;
    };
    const std::vector<Case> cases{{"missing", dir / "missing", std::nullopt, ENOENT},
                                  {"not executable", notExecutable, std::nullopt, EACCES},
                                  {"folder", dir.path(), std::nullopt, EACCES},
                                  {"bad working folder", "/bin/true", dir / "missing", ENOENT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            VornProcessRunner::run(c.executable, {}, c.workingDirectory);
            ADD_FAILURE() << "started";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), c.error) << error.what();
        }
    }
    EXPECT_THROW(VornProcessRunner::run("/bin/echo", {std::string("a\0b", 3)}), std::invalid_argument);
    for (const std::string& name : {std::string("A=B"), std::string(), std::string("A\0B", 3)}) {
        EXPECT_THROW(VornProcessRunner::run("/bin/true", {}, std::nullopt, std::map<std::string, std::string>{{name, "x"}}),
                     std::invalid_argument);
    }
}

TEST(VornProcessRunner, ThrowingOutputHandlerLeavesNoChildBehind) {
    std::string pidText;
    EXPECT_THROW(shell("echo $$; exec sleep 60",
                       [&](std::string_view text) {
                           pidText += text;
                           throw std::runtime_error("handler failed");
                       }),
                 std::runtime_error);
    EXPECT_FALSE(vornProcessIsRunning(std::stoi(pidText)));
}

TEST(VornProcessRunner, RunsLeaveNoDescriptorsOpen) {
    const std::size_t before = openDescriptorCount();
    shell("echo out; echo err >&2");
    EXPECT_THROW(VornProcessRunner::run("/nonexistent/tool", {}), std::system_error);
    auto token = std::make_shared<VornProcessCancellation>();
    EXPECT_THROW(shell("echo go; exec sleep 60", [&](std::string_view) { token->cancel(); }, token),
                 VornProcessError);
    std::stop_source source;
    EXPECT_THROW(shell("echo go; exec sleep 60", [&](std::string_view) { source.request_stop(); }, nullptr,
                       source.get_token()),
                 VornTaskCancelled);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(VornProcessError, DescriptionsFollowTheInterfaceLanguage) {
    VornTestTempDir config;
    VornScopedEnv configHome("XDG_CONFIG_HOME", config.path().string());
    struct Case {
        VornProcessError error;
        std::string en;
        std::string tr;
    };
    const std::vector<Case> cases{
        {VornProcessError::binaryNotFound("sftp"), "Required executable 'sftp' was not found.",
         "Gerekli 'sftp' aracı bulunamadı."},
        {VornProcessError::nonZeroExit(255, "  \n\t \u00A0\u2028"), "Process exited with code 255.",
         "Process exited with code 255."},
        {VornProcessError::nonZeroExit(-3, ""), "Process exited with code -3.", "Process exited with code -3."},
        {VornProcessError::nonZeroExit(1, "\n  Permission denied (publickey).  \r\n"), "Permission denied (publickey).",
         "Permission denied (publickey)."},
        {VornProcessError::cancelled(), "Operation cancelled.", "İşlem iptal edildi."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.en);
        EXPECT_EQ(c.error.what(), c.en);  // logs stay English
        VornLanguage::setCurrent(VornLanguage::tr);
        EXPECT_EQ(c.error.description(), c.tr);
        VornLanguage::setCurrent(VornLanguage::en);
        EXPECT_EQ(c.error.description(), c.en);
    }
}
