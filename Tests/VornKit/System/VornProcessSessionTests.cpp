#include "VornProcessSession.h"
#include "VornTaskCancelled.h"
#include "VornTestSupport.h"

#include <chrono>
#include <thread>

namespace {

VornProcessSession shellSession() { return VornProcessSession("/bin/sh", {}); }

// A shell command, then a line saying it is done.
std::string request(const std::string& command) { return command + "\nprintf '%s\\n' DONE\n"; }

std::vector<pid_t> ourChildren() { return vornChildProcesses(::getpid()); }

}  // namespace

TEST(VornProcessSession, OneChildAnswersRequestAfterRequest) {
    VornProcessSession shell = shellSession();
    const VornProcessSession::Reply first = shell.exchange(request("kept=42; echo $$; echo warning >&2"), "DONE", {});
    EXPECT_FALSE(first.ended);
    const std::string pid = first.output;
    ASSERT_FALSE(pid.empty());

    // The same process, with the state the first request left, and only this request's output.
    const VornProcessSession::Reply second = shell.exchange(request("echo $$; echo $kept"), "DONE", {});
    EXPECT_EQ(second.output, pid + "42\n");
    EXPECT_EQ(second.errors, "");

    // The ending line counts only as a whole line: text that merely holds it does not end the reply.
    const VornProcessSession::Reply third =
        shell.exchange(request("echo 'not DONE'; echo DONE-ish; printf 'DONE'; echo"), "DONE", {});
    EXPECT_EQ(third.output, "not DONE\nDONE-ish\n");
    EXPECT_EQ(shell.exchange(request("true"), "DONE", {}).output, "");
    EXPECT_FALSE(shell.hasEnded());
}

TEST(VornProcessSession, AChildThatEndsGivesItsExitCodeAndErrors) {
    VornProcessSession shell = shellSession();
    const VornProcessSession::Reply reply = shell.exchange(request("echo partial; echo failed >&2; exit 3"), "DONE", {});
    EXPECT_TRUE(reply.ended);
    EXPECT_EQ(reply.exitCode, 3);
    EXPECT_EQ(reply.output, "partial\n");
    EXPECT_EQ(reply.errors, "failed\n");
    EXPECT_TRUE(shell.hasEnded());

    // Asking again is no crash and no SIGPIPE: the answer is the same end.
    const VornProcessSession::Reply again = shell.exchange(request("echo more"), "DONE", {});
    EXPECT_TRUE(again.ended);
    EXPECT_EQ(again.exitCode, 3);

    // A child that has gone without being asked: writing to it fails quietly.
    VornProcessSession gone("/bin/true", {});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const VornProcessSession::Reply late = gone.exchange(std::string(200000, 'x'), "DONE", {});
    EXPECT_TRUE(late.ended);
    EXPECT_EQ(late.exitCode, 0);
}

TEST(VornProcessSession, LargeRequestsAndRepliesDoNotDeadlock) {
    // cat answers while it is still being written to; each pipe holds far less than this.
    VornProcessSession echo("/bin/cat", {});
    std::string payload;
    for (int i = 0; i < 40000; ++i) {
        payload += "line " + std::to_string(i) + "\n";
    }
    const VornProcessSession::Reply reply = echo.exchange(payload + "END\n", "END", {});
    EXPECT_FALSE(reply.ended);
    EXPECT_EQ(reply.output, payload);
    // Output beyond the ending line waits for the next exchange.
    EXPECT_EQ(echo.exchange("a\nEND\nb\n", "END", {}).output, "a\n");
    EXPECT_EQ(echo.exchange("END\n", "END", {}).output, "b\n");
}

TEST(VornProcessSession, StoppingEndsTheChildEvenOneIgnoringTerm) {
    struct Case {
        const char* name;
        std::string script;
    };
    const std::vector<Case> cases{{"polite", "echo $$; exec sleep 30"}, {"stubborn", "trap '' TERM; echo $$; exec sleep 30"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VornProcessSession shell = shellSession();
        const std::string pid = shell.exchange(request("echo $$"), "DONE", {}).output;
        std::stop_source stop;
        std::jthread stopper([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            stop.request_stop();
        });
        EXPECT_THROW(shell.exchange(request(c.script), "DONE", stop.get_token()), VornTaskCancelled);
        EXPECT_TRUE(shell.hasEnded());
        EXPECT_FALSE(vornProcessIsRunning(std::stoi(pid)));
        // What the child said before it was stopped is still there to read.
        EXPECT_EQ(shell.unreadOutput(), pid);
    }

    // A token stopped before the exchange writes nothing and leaves the session as it was.
    VornProcessSession shell = shellSession();
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(shell.exchange(request("echo no"), "DONE", stopped.get_token()), VornTaskCancelled);
    EXPECT_EQ(shell.exchange(request("echo yes"), "DONE", {}).output, "yes\n");
}

TEST(VornProcessSession, EndingTheSessionLeavesNoProcess) {
    const std::vector<pid_t> before = ourChildren();
    {
        // Ends when its input closes.
        VornProcessSession polite = shellSession();
        polite.exchange(request("true"), "DONE", {});
        // Ignores its closed input and SIGTERM: killed after the grace periods.
        VornProcessSession stubborn("/bin/sh", {"-c", "trap '' TERM; exec 0</dev/null; echo ready; "
                                                      "while :; do sleep 1; done"});
        EXPECT_EQ(stubborn.exchange("", "ready", {}).output, "");
    }
    EXPECT_EQ(ourChildren(), before);
}

TEST(VornProcessSession, BadLaunchesFailClearly) {
    EXPECT_THROW(VornProcessSession("/nonexistent/tool", {}), std::system_error);
    EXPECT_THROW(VornProcessSession("/bin/sh", {std::string("a\0b", 3)}), std::invalid_argument);
}

TEST(VornProcessSession, AChildThatNeverAnswersIsEndedAtTheTimeLimit) {
    VornProcessSession silent("/bin/sh", {"-c", "echo partial; exec sleep 30"});
    const auto started = std::chrono::steady_clock::now();
    const VornProcessSession::Reply reply = silent.exchange("hello\n", "DONE", {}, std::chrono::milliseconds(300));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(reply.ended);
    EXPECT_TRUE(reply.timedOut);
    EXPECT_EQ(reply.output, "partial\n");
    EXPECT_TRUE(silent.hasEnded());
}

TEST(VornProcessSession, TheWaitingCallbackRunsUntilTheReplyAndItsFailureEndsTheChild) {
    VornProcessSession shell = shellSession();
    int calls = 0;
    const VornProcessSession::Reply reply =
        shell.exchange(request("sleep 1; echo slept"), "DONE", {}, std::nullopt, [&calls] { ++calls; });
    EXPECT_EQ(reply.output, "slept\n");
    EXPECT_GE(calls, 2);
    EXPECT_LE(calls, 1000 / VornProcessSession::whileWaitingMilliseconds + 1);

    const pid_t pid = shell.processId();
    EXPECT_THROW(shell.exchange(request("exec sleep 30"), "DONE", {}, std::nullopt,
                                [] { throw std::runtime_error("progress failed"); }),
                 std::runtime_error);
    EXPECT_TRUE(shell.hasEnded());
    EXPECT_FALSE(vornProcessIsRunning(pid));
}
