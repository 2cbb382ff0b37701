// The authorization service: which way of asking is used (none for root, pkexec
// in a graphical session, sudo on a terminal), what each refusal means, and the
// tool started detached with exactly its arguments and the caller's display.
#include "platform/Authorization.h"

#include <climits>
#include <fstream>
#include <sstream>

#include "tests/TestSupport.h"

namespace {

using orvik::authorization::Environment;
using orvik::authorization::SetEnvironmentOverride;
using testsupport::Exists;
using testsupport::ReadFile;

constexpr AuthorizationFlags kUninstallFlags = kAuthorizationFlagInteractionAllowed |
                                               kAuthorizationFlagExtendRights |
                                               kAuthorizationFlagPreAuthorize;

class AuthorizationTest : public testsupport::TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_EQ(mkfifo(Path("go").c_str(), 0600), 0);
        // The tool waits for the test's go-ahead, so a call that waited for the
        // tool to finish would never return.
        const std::string out = Path("out");
        WriteScript("tool", "read go < " + Path("go") + "\nprintf '%s\\n' \"$0\" \"$@\" > " + out +
                                ".tmp\nset -- $(cut -d')' -f2 /proc/$$/stat)\n"
                                "echo \"session=$4 tty=$5 stdin=$(readlink /proc/$$/fd/0)\" >> " +
                                out + ".tmp\ncat >> " + out + ".tmp\nmv " + out + ".tmp " + out +
                                "\n");
        WriteScript("marker-tool", "touch " + Path("started") + "\n");
        // Stand-ins for the elevation tools: they obey a mode file and record
        // their arguments.
        const std::string mode = "$(cat " + Path("mode") + ")";
        WriteScript("pkexec", "printf '%s\\n' \"$@\" > " + Path("pkexec-args") + "\ncase " + mode +
                                  " in\n  dismiss) exit 126;;\n  deny) exit 127;;\n"
                                  "  broken) exit 3;;\nesac\n"
                                  "for fd in /proc/$$/fd/*; do n=${fd##*/}\n"
                                  "  [ \"$n\" -gt 2 ] 2>/dev/null && eval \"exec $n>&-\"\n"
                                  "done\nexec \"$@\"\n");
        WriteScript("sudo", "echo \"$*\" >> " + Path("sudo-calls") +
                                "\nif [ \"$1\" = -v ]; then [ " + mode +
                                " != refuse ]; exit; fi\nshift\nexec \"$@\"\n");
        SetMode("ok");
        env_.pkexecPath = Path("pkexec");
        env_.sudoPath = Path("sudo");
    }
    void TearDown() override {
        SetEnvironmentOverride(nullptr);
        unsetenv("DISPLAY");
        TempFolderTest::TearDown();
    }
    void WriteScript(const std::string& name, const std::string& body) {
        std::ofstream(Path(name)) << "#!/bin/bash\n" << body;
        ASSERT_EQ(chmod(Path(name).c_str(), 0755), 0);
    }
    void SetMode(const std::string& mode) { std::ofstream(Path("mode")) << mode << "\n"; }
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
        AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
        AuthorizationRights rights = {1, &item};
        OSStatus status = AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment, 0, &ref);
        if (status == errAuthorizationSuccess)
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
    // Lets the tool go on; it must run detached, with exactly its arguments,
    // and with the caller's display on its input unless root started it.
    void ExpectDetachedTool(bool handedOver) {
        int fd = -1;
        for (int i = 0; i < 10000 && fd < 0; ++i)
            if ((fd = open(Path("go").c_str(), O_WRONLY | O_NONBLOCK)) < 0)
                usleep(1000);
        ASSERT_GE(fd, 0) << "the tool never started";
        EXPECT_EQ(write(fd, "go\n", 3), 3);
        close(fd);
        for (int i = 0; i < 10000 && !Exists(Path("out")); ++i)
            usleep(1000);
        std::istringstream lines(ReadFile(Path("out")));
        std::string arg0, arg1, detail, input;
        std::getline(lines, arg0);
        std::getline(lines, arg1);
        std::getline(lines, detail);
        std::getline(lines, input, '\0');
        EXPECT_EQ(arg0, Path("tool"));
        EXPECT_EQ(arg1, "-reallyuninstall");
        EXPECT_NE(detail.find("tty=0 "), std::string::npos) << "has a terminal: " << detail;
        EXPECT_NE(detail.find(handedOver ? "stdin=pipe:" : "stdin=/dev/null"), std::string::npos)
            << detail;
        EXPECT_EQ(detail.find("session=" + std::to_string(getsid(0)) + " "), std::string::npos)
            << "runs in the caller's session: " << detail;
        EXPECT_EQ(input, handedOver ? "orvik-session 1\nDISPLAY=:5\nend\n" : "");
        unlink(Path("out").c_str());
    }

    Environment env_;
};

TEST_F(AuthorizationTest, EachWayOfAskingStartsTheToolDetached) {
    struct Row {
        bool root, graphical, terminal, pkexec;
        const char* pkexecArgs; // null: pkexec did not run
        const char* sudoCalls;  // the start of sudo's calls; null: sudo did not run
    } rows[] = {
        {true, true, true, true, nullptr, nullptr},
        {false, true, true, true, "tool\n-reallyuninstall\n", nullptr},
        {false, false, true, true, nullptr, "-v\n-- /bin/sh -c "},
        {false, true, true, false, nullptr, "-v\n-- /bin/sh -c "}, // no pkexec: sudo
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.root << row.graphical << row.terminal << row.pkexec);
        env_.pkexecPath = row.pkexec ? Path("pkexec") : Path("no-pkexec");
        Use(row.root, row.graphical, row.terminal);
        ASSERT_EQ(RunAsRoot(Path("tool")), errAuthorizationSuccess);
        ExpectDetachedTool(!row.root);
        EXPECT_EQ(ReadFile(Path("pkexec-args")),
                  row.pkexecArgs ? root_ + "/" + row.pkexecArgs : "");
        EXPECT_EQ(ReadFile(Path("sudo-calls")).rfind(row.sudoCalls ? row.sudoCalls : "-", 0),
                  row.sudoCalls ? 0 : std::string::npos);
        unlink(Path("pkexec-args").c_str());
        unlink(Path("sudo-calls").c_str());
    }
}

TEST_F(AuthorizationTest, RefusalsAreFailuresAndStartNothing) {
    struct Row {
        bool graphical;
        const char* mode;
        OSStatus expected;
    } rows[] = {{true, "dismiss", errAuthorizationCanceled},
                {true, "deny", errAuthorizationDenied},
                {true, "broken", errAuthorizationToolExecuteFailure},
                {false, "refuse", errAuthorizationDenied}};
    for (const Row& row : rows) {
        Use(false, row.graphical, true);
        SetMode(row.mode);
        EXPECT_EQ(RunAsRoot(Path("marker-tool")), row.expected) << row.mode;
        EXPECT_FALSE(Exists(Path("started"))) << row.mode;
    }
    EXPECT_EQ(ReadFile(Path("sudo-calls")), "-v\n");

    AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationItem unknown = {"system.privilege.other", 0, nullptr, 0};
    AuthorizationRights rights = {1, &item}, other = {1, &unknown};
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    Use(false, false, false);
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, kUninstallFlags, nullptr),
              errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(
        AuthorizationExecuteWithPrivileges(ref, Path("marker-tool").c_str(), 0, nullptr, nullptr),
        errAuthorizationInteractionNotAllowed);
    Use(false, true, true);
    EXPECT_EQ(
        AuthorizationCopyRights(ref, &rights, nullptr, kAuthorizationFlagExtendRights, nullptr),
        errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, kAuthorizationFlagInteractionAllowed,
                                      nullptr),
              errAuthorizationDenied);
    EXPECT_EQ(AuthorizationCopyRights(ref, &other, nullptr, kUninstallFlags, nullptr),
              errAuthorizationDenied);
    Use(true, false, false); // root is granted any right
    EXPECT_EQ(AuthorizationCopyRights(ref, &other, nullptr, 0, nullptr), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCreate(&other, nullptr, kUninstallFlags, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
    Use(false, true, true);
    ref = nullptr;
    EXPECT_EQ(AuthorizationCreate(&other, nullptr, kUninstallFlags, &ref), errAuthorizationDenied);
    EXPECT_EQ(ref, nullptr);
    EXPECT_FALSE(Exists(Path("started")));
}

TEST_F(AuthorizationTest, ItsOwnNameStartsTheRunningFileByEveryMethod) {
    // However the program was named when it started, root runs the file that
    // runs now: no PATH search, nothing that has since appeared at the path.
    env_.programFile = Path("tool");
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
        ExpectDetachedTool(!row.root);
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
    EXPECT_EQ(own.runningAsRoot, geteuid() == 0);
}

// A graphical session is a display named by either variable; an empty one names none.
TEST(AuthorizationEnvironment, AGraphicalSessionIsANonEmptyDisplayVariable) {
    struct Row {
        const char* display;
        const char* wayland;
        bool graphical;
    } rows[] = {{nullptr, nullptr, false},    {":0", nullptr, true}, {"", nullptr, false},
                {nullptr, "wayland-0", true}, {nullptr, "", false},  {"", "", false},
                {"", "wayland-0", true},      {":0", "", true},      {":0", "wayland-0", true}};
    orvik::authorization::SetEnvironmentOverride(nullptr);
    for (const Row& row : rows) {
        testsupport::ScopedEnv display("DISPLAY", row.display);
        testsupport::ScopedEnv wayland("WAYLAND_DISPLAY", row.wayland);
        EXPECT_EQ(orvik::authorization::CurrentEnvironment().graphicalSession, row.graphical)
            << "DISPLAY=" << (row.display ? row.display : "(unset)")
            << " WAYLAND_DISPLAY=" << (row.wayland ? row.wayland : "(unset)");
    }
}

TEST_F(AuthorizationTest, BadArgumentsGiveStatusesNotCrashes) {
    Use(true, false, false);
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 0, nullptr), errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
    AuthorizationRights rights = {1, nullptr};
    AuthorizationItem unnamed = {nullptr, 0, nullptr, 0};
    AuthorizationRights noName = {1, &unnamed};
    AuthorizationRights* authorized = &rights;
    EXPECT_EQ(AuthorizationCopyRights(nullptr, &rights, nullptr, 0, &authorized),
              errAuthorizationInvalidRef);
    EXPECT_EQ(authorized, nullptr);
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, 0, nullptr),
              errAuthorizationInvalidSet);
    EXPECT_EQ(AuthorizationCopyRights(ref, nullptr, nullptr, 0, nullptr),
              errAuthorizationInvalidSet);
    EXPECT_EQ(AuthorizationCopyRights(ref, &noName, nullptr, 0, nullptr),
              errAuthorizationInvalidSet);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, nullptr, 0, nullptr, nullptr),
              errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(nullptr, "/bin/true", 0, nullptr, nullptr),
              errAuthorizationInvalidRef);
    // A bare name, a missing file and a file without execute permission.
    for (const std::string& tool : {std::string("tool"), Path("none"), Path("mode")})
        EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, tool.c_str(), 0, nullptr, nullptr),
                  errAuthorizationToolExecuteFailure)
            << tool;
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
}

} // namespace
