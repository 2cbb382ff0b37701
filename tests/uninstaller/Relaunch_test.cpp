// The relaunch's argument vector and its refusal, through a replaced authorization environment,
// and the footing the privileged copy starts from.
#include <chrono>
#include <climits>
#include <cstdio>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "UninstallTestSupport.h"
#include "platform/Authorization.h"

namespace {

class RelaunchTest : public UninstallTest {
protected:
    void TearDown() override {
        orvik::authorization::SetEnvironmentOverride(nullptr);
        UninstallTest::TearDown();
    }
};

TEST_F(RelaunchTest, CopyGetsOnlyTheRealArgument) {
    orvik::authorization::Environment environment = orvik::authorization::CurrentEnvironment();
    environment.runningAsRoot = true; // granted without a prompt, as for root
    orvik::authorization::SetEnvironmentOverride(&environment);
    const std::string tool = Path("tool.sh");
    const std::string record = Path("arguments");
    MakeFile("tool.sh", "#!/bin/sh\nfor a in \"$0\" \"$@\"; do echo \"[$a]\"; done > '" + record +
                            ".tmp'\nmv '" + record + ".tmp' '" + record + "'\n");
    chmod(tool.c_str(), 0755);

    EXPECT_TRUE(RunSelfAsRoot(CAtlStringA(tool.c_str())));
    std::string text;
    for (int i = 0; i < 500 && text.empty(); ++i) {
        text = testsupport::ReadFile(record);
        if (text.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(text, "[" + tool + "]\n[-reallyuninstall]\n");
}

TEST_F(RelaunchTest, NoWayToAskMeansFalseAndNothingStarted) {
    orvik::authorization::Environment environment;
    environment.runningAsRoot = false;
    environment.graphicalSession = false;
    environment.hasTerminal = false;
    orvik::authorization::SetEnvironmentOverride(&environment);
    MakeFile("tool.sh", "#!/bin/sh\ntouch '" + Path("started") + "'\n");
    chmod(Path("tool.sh").c_str(), 0755);
    EXPECT_FALSE(RunSelfAsRoot(CAtlStringA(Path("tool.sh").c_str())));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(Exists("started"));
}

TEST_F(RelaunchTest, PrivilegedPhaseStartsFromTheRootFolderWithTheSystemsPath) {
    // In a child, so that this process keeps its own folder, umask and PATH.
    EXPECT_EXIT(
        {
            umask(077);
            const bool clean = chdir(root_.c_str()) == 0 &&
                               setenv("PATH", (root_ + ":/usr/bin").c_str(), 1) == 0 &&
                               StartPrivilegedPhaseClean();
            char cwd[PATH_MAX] = "?";
            const mode_t mask = umask(0);
            std::fprintf(stderr, "clean=%d cwd=%s umask=%03o PATH=%s\n", clean,
                         getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?", mask, getenv("PATH"));
            _exit(0);
        },
        testing::ExitedWithCode(0), "clean=1 cwd=/ umask=022 PATH=/usr/sbin:/usr/bin:/sbin:/bin\n");
}

} // namespace
