// Shared fixture of the uninstaller's unit tests: a fresh temporary folder, the log captured
// through the hook, and the hooks put back afterwards.
#pragma once

#include <syslog.h>

#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "uninstaller/Uninstall.h"

struct LoggedLine {
    int priority;
    std::string text;
    bool operator==(const LoggedLine& other) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LoggedLine& line) {
    return out << "{" << line.priority << ", \"" << line.text << "\"}";
}

inline LoggedLine Notice(const std::string& text) {
    return {LOG_NOTICE, text};
}
inline LoggedLine Warning(const std::string& text) {
    return {LOG_WARNING, text};
}

class UninstallTest : public testsupport::TempFolderTest {
protected:
    void SetUp() override {
        ResetUninstallHooks();
        TempFolderTest::SetUp();
        GetUninstallHooks().log = [this](int priority, const char* text) {
            m_log.push_back({priority, text});
        };
    }
    void TearDown() override {
        ResetUninstallHooks();
        TempFolderTest::TearDown();
    }

    static CAtlString Wide(const std::string& ascii) { return CAtlString(ascii.c_str()); }
    void MakeDir(const std::string& relative) {
        ASSERT_EQ(system(("mkdir -p '" + Path(relative) + "'").c_str()), 0);
    }
    void MakeFile(const std::string& relative, const std::string& content = "x") {
        ASSERT_TRUE(testsupport::WriteFile(Path(relative), content)) << relative;
    }
    bool Exists(const std::string& relative) const { return testsupport::Exists(Path(relative)); }

    std::vector<LoggedLine> m_log;
};
