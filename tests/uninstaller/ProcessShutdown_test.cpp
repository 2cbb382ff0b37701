// Arguments, the "ps" snapshot and the stopping of one process, through the command hooks.
#include <cstring>

#include "UninstallTestSupport.h"

namespace {

// The words that count show end to end; near misses don't count, nor does argv[0], the
// program itself.
TEST(UninstallArguments, OnlyWholeWordsAfterTheProgramCount) {
    const char* argv[] = {"-reallyuninstall", "-reallyuninstallx", "--silent", "-silen", "x"};
    const UninstallArguments args = ParseUninstallArguments(5, argv);
    EXPECT_FALSE(args.reallyUninstall);
    EXPECT_FALSE(args.silent);
}

// Serves each command's output through fmemopen and records what was asked.
class ShellTest : public UninstallTest {
protected:
    void SetUp() override {
        UninstallTest::SetUp();
        UninstallHooks& hooks = GetUninstallHooks();
        hooks.openPipe = [this](const char* command) -> FILE* {
            m_commands.push_back(std::string("pipe: ") + command);
            if (m_outputs.empty())
                return nullptr;
            m_buffers.splice(m_buffers.end(), m_outputs, m_outputs.begin());
            return fmemopen(m_buffers.back().data(), m_buffers.back().size(), "r");
        };
        hooks.closePipe = [](FILE* pipe) { return fclose(pipe); };
        hooks.runCommand = [this](const char* command) {
            m_commands.push_back(std::string("run: ") + command);
            return strcmp(command, "kill 42") == 0 ? m_killStatus : 0;
        };
        hooks.sleepMicroseconds = [this](unsigned microseconds) {
            m_commands.push_back("sleep " + std::to_string(microseconds));
        };
    }

    std::list<std::string> m_outputs, m_buffers; // one per pipe opened; none left: it fails
    std::vector<std::string> m_commands;
    int m_killStatus = 0;
};

TEST_F(ShellTest, ProcessListKeepsEachPieceWithItsLinesId) {
    // A line longer than 1023 bytes comes in pieces, each kept with the id read last; lines
    // without a positive id are skipped.
    const std::string init = "    1 ?  Ss  0:00 /sbin/init\n";
    const std::string head = "  310 ?  S  0:00 /Applications/ORVIK Tandro Riravor/a ";
    const std::string longLine = head + std::string(1023 - head.size(), 'y') + "x\n";
    m_outputs = {"  PID TTY STAT TIME COMMAND\n" + init + longLine};
    ProcessList processes;
    processes.emplace_back(CAtlString("kept"), 7); // entries already there stay first
    GetProcessList(processes);
    std::vector<std::pair<std::string, int>> got;
    for (const ProcessEntry& entry : processes)
        got.emplace_back(CAtlStringA(entry.first).GetString(), entry.second);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                       {"kept", 7}, {init, 1}, {longLine.substr(0, 1023), 310}, {"x\n", 310}}));
    EXPECT_EQ(m_commands, std::vector<std::string>{"pipe: ps -axww"});
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{Notice("Retrieving current process list\n"),
                                              Notice("Process list found 4 items\n")}));

    m_log.clear();
    GetProcessList(processes); // "ps" cannot run: the list stays
    EXPECT_EQ(processes.size(), 4u);
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{Notice("Retrieving current process list\n"),
                                              Warning("Failed to load process list.\n")}));
}

// The log lines of a stop, plain and forced, show end to end.
TEST_F(ShellTest, StopProcessWatchesTenTimesThenForces) {
    const std::string ended = "  PID TTY TIME CMD\n", alive = ended + "   42 ? 00:00 agent\n";
    const std::string poll = "pipe: ps -p 42 -ww", sleep = "sleep 200000";
    std::vector<std::string> stubborn = {"run: kill 42"};
    for (int i = 0; i < 10; ++i)
        stubborn.insert(stubborn.end(), {poll, sleep});
    stubborn.push_back("run: kill -9 42");
    const struct {
        const char* name;
        int killStatus;
        std::list<std::string> outputs;
        std::vector<std::string> commands;
    } rows[] = {{"kill fails", 1, {}, {"run: kill 42"}},
                {"gone after one poll", 0, {alive, ended}, {"run: kill 42", poll, sleep, poll}},
                {"no status pipe", 0, {}, {"run: kill 42", poll, "run: kill -9 42"}},
                {"stubborn", 0, std::list<std::string>(11, alive), stubborn}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_commands.clear();
        m_killStatus = row.killStatus;
        m_outputs = row.outputs;
        ProcessList processes;
        processes.emplace_back(CAtlString("42 agent\n"), 42);
        EXPECT_TRUE(StopProcess(processes.begin()));
        EXPECT_EQ(m_commands, row.commands);
    }
}

} // namespace
