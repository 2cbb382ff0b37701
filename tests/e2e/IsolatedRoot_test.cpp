// The isolated root itself: nothing reaches the host, syslog lines are captured, terminals
// and detached processes behave as the uninstaller scenarios need.
#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

using namespace e2e;

namespace {

#define SKIP_WITHOUT_ISOLATED_ROOT()                                                               \
    do {                                                                                           \
        std::string reason = IsolatedRootUnavailableReason();                                      \
        if (!reason.empty())                                                                       \
            GTEST_SKIP() << reason;                                                                \
    } while (0)

TEST(IsolatedRoot, ParsesSyslogDatagrams) {
    LogLine line = ParseSyslogDatagram("<12>Dec  5 17:30:01 orvik-uninstaller: Failed: x\n");
    EXPECT_EQ(line.priority, LOG_WARNING);
    EXPECT_EQ(line.ident, "orvik-uninstaller");
    EXPECT_EQ(line.text, "Failed: x\n");
    line = ParseSyslogDatagram("<13>Dec 15 07:03:09 a b: entering RemoveMacRegistryKey()");
    EXPECT_EQ(line.priority, LOG_NOTICE);
    EXPECT_EQ(line.ident, "a b");
    EXPECT_EQ(line.text, "entering RemoveMacRegistryKey()");
}

TEST(IsolatedRoot, ChangesStayInsideAndLogIsCaptured) {
    SKIP_WITHOUT_ISOLATED_ROOT();
    const std::string probe = "/orvik-e2e-probe-" + std::to_string(getpid());
    ASSERT_FALSE(Exists(probe));
    RunInIsolatedRoot([&] {
        EXPECT_EQ(getpid(), 2) << "the body runs right below the namespace's init";
        MakeDirs(probe + "/a/b");
        WriteFile(probe + "/a/b/f", "x");
        EXPECT_TRUE(Exists(probe + "/a/b/f"));
        EXPECT_FALSE(Exists("/dev/log"));
        SyslogCapture log;
        syslog(LOG_WARNING, "hello %d\n", 5);
        syslog(LOG_NOTICE, "%s", "no newline");
        ASSERT_TRUE(log.WaitForText("no newline", 10));
        auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].priority, LOG_WARNING);
        EXPECT_EQ(lines[0].text, "hello 5\n");
        EXPECT_EQ(lines[0].ident, "e2e_tests");
        EXPECT_EQ(lines[1].priority, LOG_NOTICE);
        std::string ps;
        EXPECT_EQ(RunAndWait(Command({"/bin/ps", "-p", "1", "-ww"}), &ps), 0);
        EXPECT_NE(ps.find("e2e_tests"), std::string::npos) << ps;
    });
    EXPECT_FALSE(Exists(probe)) << "a change inside the isolated root reached the host";
}

TEST(IsolatedRoot, TerminalsAndDetachedProcesses) {
    SKIP_WITHOUT_ISOLATED_ROOT();
    RunInIsolatedRoot([] {
        PtySession session(Command({"/bin/sh", "-c",
                                    "printf 'Answer? '; read a; echo \"got:$a\"; "
                                    "test -t 0 && echo tty; exit 3"}));
        ASSERT_TRUE(session.Started());
        ASSERT_TRUE(session.WaitForOutput("Answer? ", 10)) << session.Output();
        session.Send("yes\r");
        EXPECT_EQ(session.Wait(10), 3);
        EXPECT_NE(session.Output().find("got:yes"), std::string::npos) << session.Output();
        EXPECT_NE(session.Output().find("tty"), std::string::npos) << session.Output();

        RunOptions stubborn = Command({"/bin/sleep", "100"});
        stubborn.ignoreSigterm = true;
        pid_t sleeper = StartDetached(stubborn);
        ASSERT_GT(sleeper, 0);
        EXPECT_TRUE(ProcessAlive(sleeper));
        EXPECT_NE(getppid(), 0);
        kill(sleeper, SIGTERM);
        usleep(100000);
        EXPECT_TRUE(ProcessAlive(sleeper)) << "SIGTERM was to be ignored";
        kill(sleeper, SIGKILL);
        EXPECT_TRUE(WaitForProcessEnd(sleeper, 10)) << "init did not reap it";
        EXPECT_TRUE(WaitUntilNoProcessMatches("sleep 100", 10));

        // Sleeper mode: a copy of this program that only waits, whatever its arguments.
        MakeDirs("/opt/e2e");
        CopyFile("/proc/self/exe", "/opt/e2e/agent", 0755);
        pid_t agent = StartDetached(Command({"/opt/e2e/agent", kSleeperArgument, "--x=1", "/y"}));
        ASSERT_GT(agent, 0);
        usleep(200000);
        std::string ps;
        EXPECT_EQ(RunAndWait(Command({"/bin/ps", "-axww", "-o", "pid=,args="}), &ps), 0);
        EXPECT_NE(ps.find(std::to_string(agent) + " /opt/e2e/agent --orvik-e2e-sleeper --x=1 /y\n"),
                  std::string::npos)
            << ps;
        EXPECT_EQ(ps.find("agent", ps.find("agent") + 1), std::string::npos)
            << "the sleeper must not run the tests itself:\n"
            << ps;
        kill(agent, SIGTERM);
        EXPECT_TRUE(WaitForProcessEnd(agent, 10));
    });
}

} // namespace
