// Arguments, the "ps" snapshot and the stopping of one process, through the command hooks.
#include <cstring>
#include <map>

#include "UninstallTestSupport.h"

namespace {

TEST(UninstallArguments, MatchedWholeIgnoringCase) {
    struct Row {
        std::vector<const char*> argv;
        bool really, silent;
    } rows[] = {
        {{"u"}, false, false},
        {{"u", "-reallyuninstall"}, true, false},
        {{"u", "-ReallyUninstall"}, true, false},
        {{"u", "-SILENT"}, false, true},
        {{"u", "-silent", "-REALLYUNINSTALL"}, true, true},
        {{"u", "-silent", "-silent", "other"}, false, true},
        {{"u", "-reallyuninstallx", "reallyuninstall", "--silent", "-silen", "-reallyuninstal"},
         false,
         false},
        {{"-reallyuninstall"}, false, false}, // argv[0] is the program, never an argument
    };
    for (const Row& row : rows) {
        UninstallArguments args =
            ParseUninstallArguments(static_cast<int>(row.argv.size()), row.argv.data());
        std::string shown;
        for (const char* a : row.argv)
            shown += std::string(a) + " ";
        EXPECT_EQ(args.reallyUninstall, row.really) << shown;
        EXPECT_EQ(args.silent, row.silent) << shown;
    }
}

// Serves the text of each command through fmemopen and records what was asked.
class ShellTest : public UninstallTest {
protected:
    void SetUp() override {
        UninstallTest::SetUp();
        UninstallHooks& hooks = GetUninstallHooks();
        hooks.openPipe = [this](const char* command) -> FILE* {
            m_commands.push_back(std::string("pipe: ") + command);
            auto output = m_pipeOutput(command);
            if (!output.first)
                return nullptr;
            m_buffers.push_back(output.second);
            std::string& text = m_buffers.back();
            return text.empty() ? fopen("/dev/null", "r") : fmemopen(text.data(), text.size(), "r");
        };
        hooks.closePipe = [this](FILE* pipe) {
            m_commands.push_back("close");
            return fclose(pipe);
        };
        hooks.runCommand = [this](const char* command) {
            m_commands.push_back(std::string("run: ") + command);
            return m_runStatus(command);
        };
        hooks.sleepMicroseconds = [this](unsigned microseconds) {
            m_commands.push_back("sleep " + std::to_string(microseconds));
        };
    }

    std::function<std::pair<bool, std::string>(const std::string&)> m_pipeOutput =
        [](const std::string&) { return std::make_pair(true, std::string()); };
    std::function<int(const std::string&)> m_runStatus = [](const std::string&) { return 0; };
    std::vector<std::string> m_commands;
    std::list<std::string> m_buffers;
};

std::string Narrow(const CAtlString& text) {
    return std::string(CAtlStringA(text).GetString());
}

TEST_F(ShellTest, ProcessListKeepsEachLineWithItsId) {
    const std::string header = "  PID TTY      STAT   TIME COMMAND\n";
    const std::string longLine =
        "  310 ?        S      0:00 /Applications/ORVIK Tandro Riravor/a " +
        std::string(1500, 'y') + "\n";
    const std::string ps = header + "    1 ?        Ss     0:00 /sbin/init\n" + longLine +
                           "   -5 odd negative\n" + "   42 pts/0    R+     0:00 ps -axww\n";
    m_pipeOutput = [&](const std::string&) { return std::make_pair(true, ps); };

    ProcessList processes;
    processes.emplace_back(CAtlString("kept"), 7); // entries already there stay first
    GetProcessList(processes);

    std::vector<std::pair<std::string, int>> got;
    for (const ProcessEntry& entry : processes)
        got.emplace_back(Narrow(entry.first), entry.second);
    // The 1023-byte pieces of the long line: each after the first keeps the line's id; the
    // negative line is skipped, and so is nothing else.
    const std::string piece1 = longLine.substr(0, 1023), piece2 = longLine.substr(1023);
    std::vector<std::pair<std::string, int>> want = {{"kept", 7},
                                                     {"    1 ?        Ss     0:00 /sbin/init\n", 1},
                                                     {piece1, 310},
                                                     {piece2, 310},
                                                     {"   42 pts/0    R+     0:00 ps -axww\n", 42}};
    EXPECT_EQ(got, want);
    EXPECT_EQ(m_commands, (std::vector<std::string>{"pipe: ps -axww", "close"}));
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{Notice("Retrieving current process list\n"),
                                              Notice("Process list found 5 items\n")}));
}

TEST_F(ShellTest, ProcessListPiecesThatBeginWithANumberTakeThatNumber) {
    // A continuation piece that starts with digits is read as a new id.
    const std::string line = "   12 x " + std::string(1015, 'a') + "77 tail\n";
    ASSERT_EQ(line.substr(1023, 2), "77");
    m_pipeOutput = [&](const std::string&) { return std::make_pair(true, "  PID TTY\n" + line); };
    ProcessList processes;
    GetProcessList(processes);
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(processes.front().second, 12);
    EXPECT_EQ(processes.back().second, 77);
    EXPECT_EQ(Narrow(processes.back().first), "77 tail\n");
}

TEST_F(ShellTest, ProcessListEmptyOrUnavailable) {
    for (std::string output : {std::string(), std::string("  PID TTY STAT TIME COMMAND\n")}) {
        m_log.clear();
        m_pipeOutput = [&](const std::string&) { return std::make_pair(true, output); };
        ProcessList processes;
        GetProcessList(processes);
        EXPECT_TRUE(processes.empty());
        EXPECT_EQ(m_log.back(), Notice("Process list found 0 items\n"));
    }
    m_log.clear();
    m_commands.clear();
    m_pipeOutput = [](const std::string&) { return std::make_pair(false, std::string()); };
    ProcessList processes;
    processes.emplace_back(CAtlString("kept"), 3);
    GetProcessList(processes);
    EXPECT_EQ(processes.size(), 1u);
    EXPECT_EQ(m_commands, std::vector<std::string>{"pipe: ps -axww"}) << "nothing to close";
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{Notice("Retrieving current process list\n"),
                                              Warning("Failed to load process list.\n")}));
}

TEST_F(ShellTest, StopProcessWatchesThenForces) {
    const std::string psHeader = "    PID TTY          TIME CMD\n";
    const std::string psAlive = psHeader + "     42 ?        00:00:00 agent\n";
    struct Row {
        const char* name;
        int killStatus;
        int alivePolls; // polls that still see the process; -1: the status pipe cannot open
        std::vector<std::string> commands;
        bool forced;
    } rows[] = {
        {"kill fails", 1, 0, {"run: kill 42"}, false},
        {"gone at once", 0, 0, {"run: kill 42", "pipe: ps -p 42 -ww", "close"}, false},
        {"gone after two polls",
         0,
         2,
         {"run: kill 42", "pipe: ps -p 42 -ww", "close", "sleep 200000", "pipe: ps -p 42 -ww",
          "close", "sleep 200000", "pipe: ps -p 42 -ww", "close"},
         false},
        {"no status pipe", 0, -1, {"run: kill 42", "pipe: ps -p 42 -ww", "run: kill -9 42"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_commands.clear();
        m_log.clear();
        int polls = 0;
        m_runStatus = [&](const std::string& command) {
            return command == "kill 42" ? row.killStatus : 0;
        };
        m_pipeOutput = [&](const std::string&) {
            if (row.alivePolls < 0)
                return std::make_pair(false, std::string());
            return std::make_pair(true, polls++ < row.alivePolls ? psAlive : psHeader);
        };
        ProcessList processes;
        processes.emplace_back(
            CAtlString("   42 ?  S  0:00 /Applications/ORVIK Tandro Riravor/agent\n"), 42);
        EXPECT_TRUE(StopProcess(processes.begin()));
        EXPECT_EQ(m_commands, row.commands);
        std::vector<LoggedLine> log = {
            Notice("Stopping process \"   42 ?  S  0:00 /Applications/ORVIK Tandro "
                   "Riravor/agent\n\"\n"),
            Notice("Process is running with PID 42.  Sending kill command\n")};
        if (row.forced)
            log.push_back(
                Notice("Process failed to terminate gracefully.  Sending kill -9 to PID 42\n"));
        EXPECT_EQ(m_log, log);
    }
}

TEST_F(ShellTest, StopProcessGivesTenPollsBeforeKillNine) {
    m_pipeOutput = [](const std::string&) {
        return std::make_pair(true, std::string("  PID\n  7 x\n"));
    };
    ProcessList processes;
    processes.emplace_back(CAtlString("7 stubborn\n"), 7);
    EXPECT_TRUE(StopProcess(processes.begin()));
    std::map<std::string, int> counts;
    for (const std::string& command : m_commands)
        ++counts[command];
    EXPECT_EQ(counts["pipe: ps -p 7 -ww"], 10);
    EXPECT_EQ(counts["close"], 10);
    EXPECT_EQ(counts["sleep 200000"], 10);
    EXPECT_EQ(m_commands.front(), "run: kill 7");
    EXPECT_EQ(m_commands.back(), "run: kill -9 7");
    EXPECT_EQ(m_log.back(),
              Notice("Process failed to terminate gracefully.  Sending kill -9 to PID 7\n"));
}

} // namespace
