// The authorization service: which way of asking is used (none for root, pkexec
// in a graphical session, sudo on a terminal), what each refusal means, and the
// tool started detached with exactly its arguments and the caller's display.
#include "platform/Authorization.h"

#include <climits>
#include <fstream>
#include <regex>

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
        Script("tool", R"sh(read go < {D}/go
printf '%s\n' "$0" "$@" > {D}/out.tmp
set -- $(cut -d')' -f2 /proc/$$/stat)
echo "session=$4 tty=$5 stdin=$(readlink /proc/$$/fd/0)" >> {D}/out.tmp
cat >> {D}/out.tmp; mv {D}/out.tmp {D}/out)sh");
        Script("marker-tool", "touch {D}/started");
        // Stand-ins for the elevation tools: they obey a mode file and record
        // their arguments; pkexec closes what it inherited beyond the three streams.
        Script("pkexec", R"sh(printf '%s\n' "$@" > {D}/pkexec-args
case $(cat {D}/mode) in dismiss) exit 126;; deny) exit 127;; broken) exit 3;; esac
for fd in /proc/$$/fd/*; do n=${fd##*/}; [ "$n" -gt 2 ] 2>/dev/null && eval "exec $n>&-"; done
exec "$@")sh");
        Script("sudo", R"sh(echo "$*" >> {D}/sudo-calls
if [ "$1" = -v ]; then [ $(cat {D}/mode) != refuse ]; exit; fi
shift; exec "$@")sh");
        SetMode("ok");
        env_.pkexecPath = Path("pkexec");
        env_.sudoPath = Path("sudo");
    }
    void TearDown() override {
        SetEnvironmentOverride(nullptr);
        unsetenv("DISPLAY");
        TempFolderTest::TearDown();
    }
    // A bash script; {D} stands for the test's folder.
    void Script(const std::string& name, std::string body) {
        for (size_t at; (at = body.find("{D}")) != std::string::npos;)
            body.replace(at, 3, root_);
        std::ofstream(Path(name)) << "#!/bin/bash\n" << body << "\n";
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
        const std::string out = ReadFile(Path("out"));
        EXPECT_EQ(out.find("session=" + std::to_string(getsid(0)) + " "), std::string::npos)
            << "runs in the caller's session: " << out;
        const std::string shown =
            std::regex_replace(std::regex_replace(out, std::regex("session=[0-9]+ "), "session=S "),
                               std::regex("pipe:\\[[0-9]+\\]"), "pipe");
        EXPECT_EQ(shown,
                  Path("tool") + "\n-reallyuninstall\nsession=S tty=0 stdin=" +
                      (handedOver ? "pipe\norvik-session 1\nDISPLAY=:5\nend\n" : "/dev/null\n"));
        unlink(Path("out").c_str());
    }

    Environment env_;
};

// However the program was named when it started, root runs the file that runs
// now when it names itself: no PATH search, nothing put at that path since.
TEST_F(AuthorizationTest, EachWayOfAskingStartsTheToolDetached) {
    env_.programFile = Path("tool");
    struct Row {
        bool root, graphical, terminal, pkexec;
        const char* name;       // the tool as named; this program's own name unless a path here
        const char* pkexecArgs; // null: pkexec did not run
        bool sudo;
    } rows[] = {
        {true, true, true, true, "orvik-uninstaller", nullptr, false},
        {false, true, true, true, "tool", "tool\n-reallyuninstall\n", false},
        {false, false, true, true, "/opt/moved-away/orvik-uninstaller", nullptr, true},
        {false, true, true, false, "tool", nullptr, true}, // no pkexec: sudo
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string tool = row.name[0] == 't' ? Path(row.name) : row.name;
        env_.programName = row.name;
        env_.pkexecPath = Path(row.pkexec ? "pkexec" : "none");
        Use(row.root, row.graphical, row.terminal);
        ASSERT_EQ(RunAsRoot(tool), errAuthorizationSuccess);
        ExpectDetachedTool(!row.root);
        EXPECT_EQ(ReadFile(Path("pkexec-args")), row.pkexecArgs ? Path(row.pkexecArgs) : "");
        EXPECT_EQ(ReadFile(Path("sudo-calls")).rfind("-v\n-- /bin/sh -c ", 0),
                  row.sudo ? 0 : std::string::npos);
        unlink(Path("pkexec-args").c_str());
        unlink(Path("sudo-calls").c_str());
    }
}

TEST_F(AuthorizationTest, RefusalsAndBadArgumentsAreFailuresAndStartNothing) {
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
    }
    EXPECT_EQ(ReadFile(Path("sudo-calls")), "-v\n");
    AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationItem unknown = {"system.privilege.other", 0, nullptr, 0};
    AuthorizationItem unnamed = {nullptr, 0, nullptr, 0};
    AuthorizationRights rights = {1, &item}, other = {1, &unknown}, noName = {1, &unnamed};
    AuthorizationRights* authorized = &rights;
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    Use(false, false, false); // no way of asking
    EXPECT_EQ(AuthorizationCopyRights(ref, &rights, nullptr, kUninstallFlags, &authorized),
              errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(authorized, nullptr);
    Use(false, true, true);
    auto copy = [&](AuthorizationRights* asked, AuthorizationFlags flags) {
        return AuthorizationCopyRights(ref, asked, nullptr, flags, nullptr);
    };
    EXPECT_EQ(copy(&rights, kAuthorizationFlagExtendRights), errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(copy(&rights, kAuthorizationFlagInteractionAllowed), errAuthorizationDenied);
    EXPECT_EQ(copy(&other, kUninstallFlags), errAuthorizationDenied);
    EXPECT_EQ(copy(nullptr, 0), errAuthorizationInvalidSet);
    EXPECT_EQ(copy(&noName, 0), errAuthorizationInvalidSet);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, nullptr, 0, nullptr, nullptr),
              errAuthorizationInvalidPointer);
    // Root is granted any right; a tool needs a path to an executable file.
    env_.programName = "orvik-uninstaller"; // a running file that no longer has a name
    Use(true, false, false);
    EXPECT_EQ(copy(&other, 0), errAuthorizationSuccess);
    for (const std::string& tool : {std::string("tool"), Path("mode"), env_.programName})
        EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, tool.c_str(), 0, nullptr, nullptr),
                  errAuthorizationToolExecuteFailure)
            << tool;
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(nullptr, "/bin/true", 0, nullptr, nullptr),
              errAuthorizationInvalidRef);
    Use(false, true, true);
    EXPECT_EQ(AuthorizationCreate(&other, nullptr, kUninstallFlags, nullptr),
              errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationCreate(&other, nullptr, kUninstallFlags, &ref), errAuthorizationDenied);
    EXPECT_FALSE(Exists(Path("started")));
}

// A graphical session is a display named by either variable; an empty one names none.
TEST(AuthorizationEnvironment, AGraphicalSessionIsANonEmptyDisplayVariable) {
    struct Row {
        const char* display;
        const char* wayland;
        bool graphical;
    } rows[] = {{nullptr, nullptr, false},
                {"", "", false},
                {":0", nullptr, true},
                {nullptr, "wayland-0", true},
                {"", "wayland-0", true}};
    orvik::authorization::SetEnvironmentOverride(nullptr);
    for (const Row& row : rows) {
        testsupport::ScopedEnv display("DISPLAY", row.display);
        testsupport::ScopedEnv wayland("WAYLAND_DISPLAY", row.wayland);
        EXPECT_EQ(orvik::authorization::CurrentEnvironment().graphicalSession, row.graphical)
            << &row - rows;
    }
    const Environment own = orvik::authorization::CurrentEnvironment();
    char resolved[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
    EXPECT_EQ(own.programFile, resolved);
    EXPECT_EQ(own.programName, program_invocation_name);
    EXPECT_EQ(own.runningAsRoot, geteuid() == 0);
}

} // namespace
