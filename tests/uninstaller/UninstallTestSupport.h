// Shared fixture of the uninstaller's unit tests: a fresh temporary folder, the log captured
// through the hook, and the hooks put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "uninstaller/Uninstall.h"

struct LoggedLine {
    int priority;
    std::string text;
    bool operator==(const LoggedLine& other) const {
        return priority == other.priority && text == other.text;
    }
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

class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUninstallHooks();
        char pattern[] = "/tmp/orvik-uninstall-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        GetUninstallHooks().log = [this](int priority, const char* text) {
            m_log.push_back({priority, text});
        };
    }
    void TearDown() override {
        ResetUninstallHooks();
        std::string command =
            "chmod -R u+rwx '" + m_folder + "' 2>/dev/null; rm -rf '" + m_folder + "'";
        (void)!system(command.c_str());
    }

    std::string Path(const std::string& relative) const { return m_folder + "/" + relative; }
    static CAtlString Wide(const std::string& utf8ascii) { return CAtlString(utf8ascii.c_str()); }

    void MakeDir(const std::string& relative) {
        std::string command = "mkdir -p '" + Path(relative) + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    void MakeFile(const std::string& relative, const std::string& content = "x") {
        FILE* file = fopen(Path(relative).c_str(), "wb");
        ASSERT_NE(file, nullptr) << relative;
        fwrite(content.data(), 1, content.size(), file);
        fclose(file);
    }
    bool Exists(const std::string& relative) const {
        struct stat st;
        return lstat(Path(relative).c_str(), &st) == 0;
    }

    std::string m_folder;
    std::vector<LoggedLine> m_log;
};
