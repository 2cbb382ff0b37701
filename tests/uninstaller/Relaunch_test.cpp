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
    // A tool that records its arguments, one per line, once it has run.
    std::string Tool() {
        const std::string record = Path("arguments");
        MakeFile("tool.sh", "#!/bin/sh\nfor a in \"$0\" \"$@\"; do echo \"[$a]\"; done > '" +
                                record + ".tmp'\nmv '" + record + ".tmp' '" + record + "'\n");
        chmod(Path("tool.sh").c_str(), 0755);
        return Path("tool.sh");
    }
    std::string WaitForRecord(int tries) const {
        std::string text;
        for (int i = 0; i < tries && text.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            text = testsupport::ReadFile(Path("arguments"));
        }
        return text;
    }
};

TEST_F(RelaunchTest, CopyGetsOnlyTheRealArgument) {
    orvik::authorization::Environment environment = orvik::authorization::CurrentEnvironment();
    environment.runningAsRoot = true; // granted without a prompt, as for root
    orvik::authorization::SetEnvironmentOverride(&environment);
    const std::string tool = Tool();
    EXPECT_TRUE(RunSelfAsRoot(CAtlStringA(tool.c_str())));
    EXPECT_EQ(WaitForRecord(500), "[" + tool + "]\n[-reallyuninstall]\n");
}

TEST_F(RelaunchTest, NoWayToAskMeansFalseAndNothingStarted) {
    orvik::authorization::Environment environment;
    environment.runningAsRoot = environment.graphicalSession = environment.hasTerminal = false;
    orvik::authorization::SetEnvironmentOverride(&environment);
    EXPECT_FALSE(RunSelfAsRoot(CAtlStringA(Tool().c_str())));
    EXPECT_EQ(WaitForRecord(10), "");
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
