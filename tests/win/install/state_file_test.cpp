// The state file as the installed client reads it: the stand-in client
// setup, a program that does not choose UTF-8, reads with the ANSI profile
// functions in the system's code page what this program (which does) wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include "test_files.h"

#include <cstdlib>
#include <string>

#include "base/code_page_win.h"
#include "base/text_copy.h"
#include "install/state_file_win.h"

namespace {

std::string StatePath() {
    char path[MAX_PATH];
    GetStateFilePath(path);
    return path;
}

// The value the client reads for a key ("<none>" when there is none).
std::string ClientReads(const char* section, const char* key) {
    const char* bin = std::getenv("CV_BIN_DIR");
    EXPECT_NE(bin, nullptr);
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string report = std::string(folder) + "cv-state-report.txt";
    DeleteFileA(report.c_str());
    std::string command = "\"" + WindowsPath(bin ? bin : "") + "\\cvclientsetup.exe\" -readstate " +
                          section + " " + key + " \"" + report + "\"";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                        &process))
        return "<not started>";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string text = ReadFileText(report);
    DeleteFileA(report.c_str());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// What this program reads back, in its own code page.
std::string ProgramReads(const char* section, const char* key) {
    char value[200] = "";
    GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, StatePath().c_str());
    return value;
}

class StateFile : public testing::Test {
protected:
    void SetUp() override {
        UseProgramCodePage();
        ASSERT_TRUE(TextsUtf8()) << "the test program chooses UTF-8 in its manifest";
        DeleteStateFile();
    }
    void TearDown() override {
        DeleteStateFile();
        SetTextsUtf8(false);
    }
};

// "café" in UTF-8 and in the Western legacy code page of the test prefix.
const char kCafeUtf8[] = "caf\xC3\xA9";
const char kCafeLegacy[] = "caf\xE9";

TEST_F(StateFile, ANewFileIsUtf16AndTheClientGetsWhatItsCodePageHolds) {
    WriteStateText("download", "complete", "1");
    WriteStateText("ProxySettings", "Proxy", (std::string("proxy-") + kCafeUtf8).c_str());
    const std::string raw = ReadFileText(StatePath());
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ("\xFF\xFE", raw.substr(0, 2));
    EXPECT_EQ("1", ClientReads("download", "complete"));
    EXPECT_EQ(std::string("proxy-") + kCafeLegacy, ClientReads("ProxySettings", "Proxy"));
    EXPECT_EQ(std::string("proxy-") + kCafeUtf8, ProgramReads("ProxySettings", "Proxy"));
    EXPECT_EQ(1, ReadStateInt("download", "complete", 0));

    // Beyond the client's code page: this program keeps it whole, the
    // client gets its code page's stand-in.
    WriteStateText("ProxySettings", "Proxy", "\xD0\xBF\xD1\x80\xD0\xB8.example");
    EXPECT_EQ("\xD0\xBF\xD1\x80\xD0\xB8.example", ProgramReads("ProxySettings", "Proxy"));
    EXPECT_EQ("???.example", ClientReads("ProxySettings", "Proxy"));
}

TEST_F(StateFile, AnExistingLegacyFileKeepsItsCodePageAndWhatOthersWrote) {
    WriteFileText(StatePath(), "[client]\r\nFolder=C:\\Programme\\M\xFCller\r\n[download]\r\ncomplete=0\r\n");
    WriteStateText("download", "complete", "1");
    WriteStateText("ProxySettings", "Proxy", (std::string(kCafeUtf8) + "-\xD0\xBF").c_str());
    const std::string raw = ReadFileText(StatePath());
    EXPECT_NE("\xFF\xFE", raw.substr(0, 2));
    EXPECT_NE(std::string::npos, raw.find("Folder=C:\\Programme\\M\xFCller\r\n")) << raw;
    EXPECT_NE(std::string::npos, raw.find(std::string("Proxy=") + kCafeLegacy + "-?")) << raw;
    EXPECT_EQ("C:\\Programme\\M\xFCller", ClientReads("client", "Folder"));
    EXPECT_EQ(std::string(kCafeLegacy) + "-?", ClientReads("ProxySettings", "Proxy"));
    EXPECT_EQ("1", ClientReads("download", "complete"));
    EXPECT_EQ(1, ReadStateInt("download", "complete", 0));

    // An ASCII file written with ASCII only stays byte for byte as the
    // profile functions write it.
    WriteFileText(StatePath(), "[result]\r\nsuccess=1\r\n");
    WriteStateText("download", "complete", "1");
    EXPECT_EQ("[result]\r\nsuccess=1\r\n[download]\r\ncomplete=1\r\n", ReadFileText(StatePath()));
}

TEST_F(StateFile, TheClientsOwnWritesKeepAUtf16FileAndLegacyTextsWriteAsBefore) {
    WriteStateText("result", "success", "0");
    const char* bin = std::getenv("CV_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    std::string command = "\"" + WindowsPath(bin) + "\\cvclientsetup.exe\" -success";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &start, &process));
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(1, ReadStateInt("result", "success", 0));
    EXPECT_EQ("\xFF\xFE", ReadFileText(StatePath()).substr(0, 2));

    // Where the program's texts are not UTF-8 (older systems) the file is
    // made by the profile functions themselves, without a mark.
    DeleteStateFile();
    SetTextsUtf8(false);
    WriteStateText("download", "complete", "1");
    EXPECT_EQ("[download]\r\ncomplete=1\r\n", ReadFileText(StatePath()));
}

}  // namespace
