// The relaunch's argument vector and its refusal, through a replaced authorization environment,
// and the footing the privileged copy starts from.
#include <chrono>
#include <climits>
#include <thread>

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

// The granted relaunch's arguments show end to end; a refusal starts nothing.
TEST_F(RelaunchTest, NoWayToAskMeansFalseAndNothingStarted) {
    orvik::authorization::Environment environment;
    environment.runningAsRoot = environment.graphicalSession = environment.hasTerminal = false;
    orvik::authorization::SetEnvironmentOverride(&environment);
    MakeFile("tool.sh", "#!/bin/sh\ntouch '" + Path("ran") + "'\n");
    ASSERT_EQ(chmod(Path("tool.sh").c_str(), 0755), 0);
    EXPECT_FALSE(RunSelfAsRoot(CAtlStringA(Path("tool.sh").c_str())));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(Exists("ran"));
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
