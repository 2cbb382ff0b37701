#include "platform/Authorization.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using orvik::authorization::Environment;
using orvik::authorization::SetEnvironmentOverride;

constexpr AuthorizationFlags kUninstallFlags = kAuthorizationFlagInteractionAllowed |
                                               kAuthorizationFlagExtendRights |
                                               kAuthorizationFlagPreAuthorize;

using testsupport::Exists;
using testsupport::ReadFile;

class AuthorizationTest : public testsupport::TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_EQ(mkfifo((root_ + "/go").c_str(), 0600), 0);
        // The tool waits for the test's go-ahead, so a call that waited for
        // the tool to finish would never return.
        WriteScript("tool", "read go < " + root_ +
                                "/go\n"
                                "printf '%s\\n' \"$0\" \"$@\" > " +
                                root_ +
                                "/out.tmp\n"
                                "set -- $(cut -d')' -f2 /proc/$$/stat)\n"
                                "echo \"session=$4 tty=$5 stdin=$(readlink /proc/$$/fd/0)\" >> " +
                                root_ +
                                "/out.tmp\n"
                                "cat >> " +
                                root_ +
                                "/out.tmp\n"
                                "mv " +
                                root_ + "/out.tmp " + root_ + "/out\n");
        WriteScript("marker-tool", "touch " + root_ + "/started\n");
        // Stand-ins for the elevation tools: they obey a mode file and record
        // their arguments.
        WriteScript("pkexec", "printf '%s\\n' \"$@\" > " + root_ +
                                  "/pkexec-args\n"
                                  "case $(cat " +
                                  root_ +
                                  "/mode) in\n"
                                  "  dismiss) exit 126;;\n  deny) exit 127;;\n"
                                  "esac\n"
                                  "for fd in /proc/$$/fd/*; do n=${fd##*/}\n"
                                  "  [ \"$n\" -gt 2 ] 2>/dev/null && eval \"exec $n>&-\"\n"
                                  "done\nexec \"$@\"\n");
        WriteScript("sudo", "echo \"$*\" >> " + root_ +
                                "/sudo-calls\n"
                                "if [ \"$1\" = -v ]; then [ $(cat " +
                                root_ +
                                "/mode) = ok ]; exit; fi\n"
                                "shift\nexec \"$@\"\n");
        SetMode("ok");
        env_.pkexecPath = root_ + "/pkexec";
        env_.sudoPath = root_ + "/sudo";
    }
    void TearDown() override {
        SetEnvironmentOverride(nullptr);
        unsetenv("DISPLAY");
        TempFolderTest::TearDown();
    }
    void WriteScript(const std::string& name, const std::string& body) {
        const std::string path = root_ + "/" + name;
        std::ofstream(path) << "#!/bin/bash\n" << body;
        ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    }
    void SetMode(const std::string& mode) { std::ofstream(root_ + "/mode") << mode << "\n"; }
    void Use(bool root, bool graphical, bool terminal) {
        for (const char* variable : {"XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"})
            unsetenv(variable);
        setenv("DISPLAY", ":5", 1);
        env_.runningAsRoot = root;
        env_.graphicalSession = graphical;
        env_.hasTerminal = terminal;
        SetEnvironmentOverride(&env_);
    }
    // The uninstaller's call sequence; returns the first failing status.
    OSStatus RunAsRoot(const std::string& tool) {
        AuthorizationRef ref = nullptr;
        OSStatus status = AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment,
                                              kAuthorizationFlagDefaults, &ref);
        if (status != errAuthorizationSuccess)
            return status;
        AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
        AuthorizationRights rights = {1, &item};
        status = AuthorizationCopyRights(ref, &rights, nullptr, kUninstallFlags, nullptr);
        if (status == errAuthorizationSuccess) {
            char argument[] = "-reallyuninstall";
            char* args[] = {argument, nullptr};
            FILE* pipe = reinterpret_cast<FILE*>(0x1);
            status = AuthorizationExecuteWithPrivileges(ref, tool.c_str(), 0, args, &pipe);
            EXPECT_EQ(pipe, nullptr);
        }
        EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), errAuthorizationSuccess);
        return status;
    }
    // Lets the tool go on and returns what it recorded.
    std::string ReleaseToolAndReadOutput() {
        int fd = -1;
        for (int i = 0; i < 10000 && fd < 0; ++i) {
            fd = open((root_ + "/go").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                usleep(1000);
        }
        if (fd < 0)
            return "tool never started";
        EXPECT_EQ(write(fd, "go\n", 3), 3);
        close(fd);
        for (int i = 0; i < 10000 && !Exists(root_ + "/out"); ++i)
            usleep(1000);
        return ReadFile(root_ + "/out");
    }
    // A tool started by another user gets the caller's display on its input.
    void ExpectDetachedToolWithExactArguments(const std::string& output, bool handedOver) {
        std::istringstream lines(output);
        std::string arg0, arg1, detail, input;
        std::getline(lines, arg0);
        std::getline(lines, arg1);
        std::getline(lines, detail);
        std::getline(lines, input, '\0');
        EXPECT_EQ(arg0, root_ + "/tool") << output;
        EXPECT_EQ(arg1, "-reallyuninstall") << output;
        EXPECT_NE(detail.find("tty=0 "), std::string::npos) << "has a terminal: " << detail;
        EXPECT_NE(detail.find(handedOver ? "stdin=pipe:" : "stdin=/dev/null"), std::string::npos)
            << detail;
        EXPECT_EQ(input, handedOver ? "orvik-session 1\nDISPLAY=:5\nend\n" : "") << output;
        EXPECT_EQ(detail.find("session=" + std::to_string(getsid(0)) + " "), std::string::npos)
            << "runs in the caller's session: " << detail;
    }

    Environment env_;
};

TEST_F(AuthorizationTest, RootIsGrantedWithoutPromptAndTheToolRunsDetached) {
    Use(true, false, false);
    ASSERT_EQ(RunAsRoot(root_ + "/tool"), errAuthorizationSuccess);
    ExpectDetachedToolWithExactArguments(ReleaseToolAndReadOutput(), false);
    EXPECT_FALSE(Exists(root_ + "/pkexec-args"));
    EXPECT_FALSE(Exists(root_ + "/sudo-calls"));
}

TEST_F(AuthorizationTest, GraphicalSessionStartsTheToolThroughPkexec) {
    Use(false, true, true);
    ASSERT_EQ(RunAsRoot(root_ + "/tool"), errAuthorizationSuccess);
    ExpectDetachedToolWithExactArguments(ReleaseToolAndReadOutput(), true);
    EXPECT_EQ(ReadFile(root_ + "/pkexec-args"), root_ + "/tool\n-reallyuninstall\n");
    EXPECT_FALSE(Exists(root_ + "/sudo-calls"));
}

TEST_F(AuthorizationTest, PkexecRefusalsAreFailuresAndStartNothing) {
    Use(false, true, false);
    const struct {
        const char* mode;
        OSStatus expected;
    } rows[] = {{"dismiss", errAuthorizationCanceled}, {"deny", errAuthorizationDenied}};
    for (const auto& row : rows) {
        SetMode(row.mode);
        EXPECT_EQ(RunAsRoot(root_ + "/marker-tool"), row.expected) << row.mode;
        EXPECT_FALSE(Exists(root_ + "/started")) << row.mode;
    }
}

TEST_F(AuthorizationTest, TerminalAsksWithSudoThenStartsTheToolDetached) {
    Use(false, false, true);
    ASSERT_EQ(RunAsRoot(root_ + "/tool"), errAuthorizationSuccess);
    ExpectDetachedToolWithExactArguments(ReleaseToolAndReadOutput(), true);
    const std::string calls = ReadFile(root_ + "/sudo-calls");
    EXPECT_EQ(calls.rfind("-v\n", 0), 0u) << calls;
    EXPECT_NE(calls.find("\n-- /bin/sh -c "), std::string::npos) << calls;
    EXPECT_NE(calls.find(root_ + "/tool -reallyuninstall\n"), std::string::npos) << calls;
}

TEST_F(AuthorizationTest, SudoPasswordRefusedIsDeniedAndStartsNothing) {
    Use(false, false, true);
    SetMode("refuse");
    EXPECT_EQ(RunAsRoot(root_ + "/marker-tool"), errAuthorizationDenied);
    EXPECT_EQ(ReadFile(root_ + "/sudo-calls"), "-v\n");
    EXPECT_FALSE(Exists(root_ + "/started"));
}

TEST_F(AuthorizationTest, ItsOwnNameStartsTheRunningFileByEveryMethod) {
    // However the program was named when it started, root runs the file that
    // runs now: no PATH search, nothing that has since appeared at the path.
    env_.programFile = root_ + "/tool";
    const struct {
        const char* name;
        bool root, graphical, terminal;
    } rows[] = {{"orvik-uninstaller", true, false, false},
                {"bin/orvik-uninstaller", false, true, false},
                {"/opt/moved-away/orvik-uninstaller", false, false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        env_.programName = row.name;
        Use(row.root, row.graphical, row.terminal);
        ASSERT_EQ(RunAsRoot(row.name), errAuthorizationSuccess);
        ExpectDetachedToolWithExactArguments(ReleaseToolAndReadOutput(), !row.root);
        std::remove((root_ + "/out").c_str());
    }
    // A running file that no longer has a name is not started by its old one.
    env_.programFile.clear();
    Use(true, false, false);
    EXPECT_EQ(RunAsRoot("orvik-uninstaller"), errAuthorizationToolExecuteFailure);

    SetEnvironmentOverride(nullptr);
    const Environment own = orvik::authorization::CurrentEnvironment();
    EXPECT_EQ(own.programName, program_invocation_name);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
    EXPECT_EQ(own.programFile, resolved);
}

TEST_F(AuthorizationTest, NoWayToAskOrNoPermissionToAskIsRefused) {
    AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights = {1, &item};
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);

    Use(false, false, false);
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, kUninstallFlags, nullptr),
              errAuthorizationInteractionNotAllowed);
    Use(false, true, true);
    EXPECT_EQ(
        AuthorizationCopyRights(ref, &rights, nullptr, kAuthorizationFlagExtendRights, nullptr),
        errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, kAuthorizationFlagInteractionAllowed,
                                      nullptr),
              errAuthorizationDenied);
    AuthorizationItem unknown = {"system.privilege.other", 0, nullptr, 0};
    AuthorizationRights other = {1, &unknown};
    EXPECT_EQ(AuthorizationCopyRights(ref, &other, nullptr, kUninstallFlags, nullptr),
              errAuthorizationDenied);
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
}

TEST_F(AuthorizationTest, BadArgumentsGiveStatusesNotCrashes) {
    Use(true, false, false);
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 0, nullptr), errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
    AuthorizationRights rights = {1, nullptr};
    EXPECT_EQ(AuthorizationCopyRights(nullptr, &rights, nullptr, 0, nullptr),
              errAuthorizationInvalidRef);

    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, 0, nullptr),
              errAuthorizationInvalidSet);
    EXPECT_EQ(AuthorizationCopyRights(ref, nullptr, nullptr, 0, nullptr),
              errAuthorizationInvalidSet);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, nullptr, 0, nullptr, nullptr),
              errAuthorizationInvalidPointer);
    // A bare name, a missing file and a file without execute permission.
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, "tool", 0, nullptr, nullptr),
              errAuthorizationToolExecuteFailure);
    EXPECT_EQ(
        AuthorizationExecuteWithPrivileges(ref, (root_ + "/none").c_str(), 0, nullptr, nullptr),
        errAuthorizationToolExecuteFailure);
    EXPECT_EQ(
        AuthorizationExecuteWithPrivileges(ref, (root_ + "/mode").c_str(), 0, nullptr, nullptr),
        errAuthorizationToolExecuteFailure);
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
}

} // namespace
