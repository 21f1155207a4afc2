// Tests of the install actions under Wine: programs started and waited for
// (a stand-in setup program reports the command line and folder it got),
// archives unpacked through cvgetex.dll, copies into the client's folders,
// the COM queue, shell verbs, the "Failed" and "enable" values, and the
// registry import.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_files.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "base/code_page_win.h"
#include "base/process_win.h"
#include "base/text_copy.h"
#include "install/install_win.h"

namespace {

const char kClientKey[] = "Software\\Corvane\\Corvane";
const char kInstallComponentsKey[] = "Software\\Corvane\\Corvane\\InstallComponents";
const char kEnableKey[] = "Software\\Corvane\\Corvane\\Public\\Components\\CvTestComponent";
const char kComQueueKey[] = "Software\\Corvane\\Corvane\\ComponentsToRegister";
const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\corvane.exe";
const char kImportKey[] = "Software\\CvInstallTest";

void CopyInto(const std::string& from, const std::string& to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

void RemoveTree(const std::string& root) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((root + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = root + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(root.c_str());
}

void DeleteKeyTree(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char name[256];
    for (;;) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DeleteKeyTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, path.c_str());
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The value as text ("<none>" when missing); DWORDs as "dword:N".
std::string ReadValue(HKEY root, const std::string& path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
    BYTE data[2048];
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<none>";
    if (type == REG_DWORD) return "dword:" + std::to_string(*(DWORD*)data);
    data[size] = 0;
    return std::string((const char*)data);
}

void SetStringValue(HKEY root, const std::string& path, const char* name,
                    const std::string& value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void DeleteOurKeys() {
    DeleteKeyTree(HKEY_CURRENT_USER, kClientKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kClientKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathsKey);
    DeleteKeyTree(HKEY_CURRENT_USER, kImportKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kImportKey);
    DeleteKeyTree(HKEY_CLASSES_ROOT, ".cvinstalltest");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "CvInstallTestFile");
}

// The extraction library is taken from the download folder once per
// process and stays loaded: the tests load it once from a folder of their
// own, which outlives every test's download folder.
void LoadExtractionLibrary() {
    static bool loaded = false;
    if (loaded) return;
    const char* data = getenv("CV_TEST_DATA");
    const char* bin = getenv("CV_BIN_DIR");
    ASSERT_NE(data, nullptr);
    ASSERT_NE(bin, nullptr);
    std::string folder = WindowsPath(data) + "\\library-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    CopyInto(WindowsPath(bin) + "\\cvgetex.dll", folder + "\\cvgetex.dll");
    std::string target = folder + "\\unpacked";
    ASSERT_EQ(UnpackArchive((WindowsPath(data) + "\\data.zip").c_str(), target.c_str(), 0,
                            folder.c_str()),
              1);
    loaded = true;
}

class InstallActions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LoadExtractionLibrary());
        const char* data = getenv("CV_TEST_DATA");
        const char* bin = getenv("CV_BIN_DIR");
        ASSERT_NE(data, nullptr) << "CV_TEST_DATA not set (make_test_data.sh)";
        ASSERT_NE(bin, nullptr);
        dataDir = WindowsPath(data);
        binDir = WindowsPath(bin);
        char name[64];
        snprintf(name, sizeof name, "\\work-%lu", GetCurrentProcessId());
        work = dataDir + name;
        RemoveTree(work);
        DeleteOurKeys();
        download = work + "\\dl";
        client = work + "\\client";
        ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(download.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(client.c_str(), nullptr));
        logPath = work + "\\setup.log";
        CopyInto(binDir + "\\cv_fake_setup.exe", download + "\\setup.exe");
        CopyInto(dataDir + "\\setup.cab", download + "\\setup.cab");
        CopyInto(dataDir + "\\data.zip", download + "\\data.zip");
        CopyInto(dataDir + "\\broken.cab", download + "\\broken.cab");
        infPath = download + "\\setup.inf";
        WriteFileText(infPath, "[CvTestComponent]\r\nname=Install test\r\n");

        memset(&component, 0, sizeof component);
        component.downloadFolder = download.c_str();
        strcpy(component.infPath, infPath.c_str());
        strcpy(component.section, "CvTestComponent");

        SetEnvironmentVariableA("CV_FAKE_LOG", logPath.c_str());
        commandLine = "";
        deferPackageSetup = 0;
        restartPending = 0;
    }

    void TearDown() override {
        SetEnvironmentVariableA("CV_FAKE_LOG", nullptr);
        SetEnvironmentVariableA("CV_FAKE_FAILED", nullptr);
        SetEnvironmentVariableA("CV_FAKE_HOLD", nullptr);
        SetEnvironmentVariableA("CV_FAKE_EXIT", nullptr);
        commandLine = "";
        deferPackageSetup = 0;
        restartPending = 0;
        for (const std::string& folder : packageFolders) RemoveTree(folder);
        DeleteOurKeys();
        RemoveTree(work);
    }

    void InstallClient() {
        SetStringValue(HKEY_LOCAL_MACHINE, kAppPathsKey, "Path", client + "\\Program");
    }

    int Run(const std::string& line) { return RunAction(&component, line.c_str()); }

    // The stand-in's report: its command line and its working folder.
    std::vector<std::string> Log() {
        std::string text = ReadFileText(logPath);
        std::vector<std::string> lines;
        size_t start = 0, end;
        while ((end = text.find('\n', start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    std::string Enabled() { return ReadValue(HKEY_LOCAL_MACHINE, kEnableKey, "enable"); }

    // The "INS%d" values, name -> folder (the value without "\setup.ins").
    std::vector<std::pair<int, std::string>> DeferredPackages() {
        std::vector<std::pair<int, std::string>> found;
        for (const std::string& name : ValueNames(HKEY_CURRENT_USER, kInstallComponentsKey)) {
            if (name.compare(0, 3, "INS") != 0) continue;
            std::string value = ReadValue(HKEY_CURRENT_USER, kInstallComponentsKey, name.c_str());
            const std::string suffix = "\\setup.ins";
            EXPECT_GT(value.size(), suffix.size());
            EXPECT_EQ(value.substr(value.size() - suffix.size()), suffix) << value;
            std::string folder = value.substr(0, value.size() - suffix.size());
            packageFolders.push_back(folder);
            found.push_back({atoi(name.c_str() + 3), folder});
        }
        return found;
    }

    std::string TempFolder() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        std::string t = temp;
        if (!t.empty() && t.back() == '\\') t.pop_back();
        return t;
    }

    std::string dataDir, binDir, work, download, client, logPath, infPath;
    std::vector<std::string> packageFolders;
    Component component;
};

TEST_F(InstallActions, RunStartsTheProgramInTheDownloadFolderWithItsArguments) {
    const std::string program = download + "\\setup.exe";
    EXPECT_EQ(Run("run,setup.exe"), 1);
    EXPECT_THAT(Log(), ::testing::ElementsAre(program, download));

    EXPECT_EQ(Run("RUN,setup.exe,/S /v\"a,b\""), 1);
    EXPECT_THAT(Log(), ::testing::ElementsAre(program + " /S /v\"a,b\"", download));

    commandLine = "-inf x.inf";
    EXPECT_EQ(Run("run,setup.exe,/S"), 1);
    EXPECT_EQ(Log().at(0), program + " /S -inf x.inf");

    // Started with "/tray /AskForRestart": that part becomes five blanks.
    commandLine = "/tray /AskForRestart";
    EXPECT_EQ(Run("run,setup.exe"), 1);
    EXPECT_EQ(Log().at(0), program + "      ");
    EXPECT_EQ(waitedProcess, INVALID_HANDLE_VALUE);
}

TEST_F(InstallActions, RunQuotesAProgramPathWithBlanks) {
    std::string spaced = download + "\\with blank";
    ASSERT_TRUE(CreateDirectoryA(spaced.c_str(), nullptr));
    CopyInto(download + "\\setup.exe", spaced + "\\setup.exe");
    EXPECT_EQ(Run("run,with blank\\setup.exe,/S"), 1);
    EXPECT_EQ(Log().at(0), "\"" + spaced + "\\setup.exe\" /S");
}

TEST_F(InstallActions, WhatCannotBeDoneFailsTheActionWhichStillEnables) {
    // A program that cannot start.
    EXPECT_EQ(Run("run,no-such-program.exe"), 0);
    EXPECT_EQ(Log().size(), 0u);
    EXPECT_EQ(Enabled(), "dword:1");
    EXPECT_EQ(waitedProcess, INVALID_HANDLE_VALUE);

    // An archive that does not unpack: into a fresh folder, or into the
    // client's folders once there is a client.
    EXPECT_EQ(Run("ispackage,broken.cab"), 0);
    EXPECT_EQ(Run("ispackage,no-such.cab"), 0);
    EXPECT_EQ(Run("package,broken.cab"), 1);  // no client: nothing to do
    InstallClient();
    EXPECT_EQ(Run("package,broken.cab"), 0);
    EXPECT_EQ(Run("package,no-such.cab,4"), 0);

    // A copy whose source is missing.
    EXPECT_EQ(Run("copy,no-such-file.txt"), 0);
    EXPECT_EQ(Log().size(), 0u);
}

TEST_F(InstallActions, CopyMakesTheFoldersItsTargetLacks) {
    // The client is known, but neither its Program folder nor "sub" exists.
    ASSERT_TRUE(CreateDirectoryA((download + "\\sub").c_str(), nullptr));
    WriteFileText(download + "\\sub\\notes.txt", "notes");
    WriteFileText(download + "\\sub\\ctl.ocx", "control");
    InstallClient();
    EXPECT_EQ(Run("copy,sub\\notes.txt"), 1);
    EXPECT_EQ(ReadFileText(client + "\\Program\\sub\\notes.txt"), "notes");
    EXPECT_EQ(Run("copy,sub\\ctl.ocx,24"), 1);
    EXPECT_EQ(ReadFileText(client + "\\data\\sub\\ctl.ocx"), "control");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, std::string(kComQueueKey) + "\\ctl.ocx", "Path"),
              client + "\\data\\sub\\ctl.ocx");
}

TEST_F(InstallActions, ALineWithoutVerbOrFileFailsAndEnablesNothing) {
    EXPECT_EQ(Run(""), 0);
    EXPECT_EQ(Run("run"), 0);
    EXPECT_EQ(Run("run,"), 0);
    EXPECT_EQ(Run(",,"), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEnableKey));
    EXPECT_EQ(Log().size(), 0u);
}

// With resultFrom=exitcode a "run" or "ispackage" program's exit code
// decides: 0 success, 3010 and 1641 success with a restart needed,
// anything else a failure; by default (the state file) it is only logged.
TEST_F(InstallActions, ExitCodesDecideWhenTheComponentSaysSo) {
    struct Case {
        const char* code;
        int result;
        int restart;
    } cases[] = {{"0", 1, 0}, {"3010", 1, 1}, {"1641", 1, 1}, {"1", 0, 0}, {"3011", 0, 0}, {"4294967295", 0, 0}};
    for (const Case& c : cases)
        for (const char* line : {"run,setup.exe", "ispackage,setup.cab"}) {
            SetEnvironmentVariableA("CV_FAKE_EXIT", c.code);
            ActionOutcome outcome = {};
            EXPECT_EQ(c.result, RunAction(&component, line, ResultFromExitCode, &outcome)) << c.code << line;
            EXPECT_EQ(c.result, outcome.exitCodeSuccess) << c.code << line;
            EXPECT_EQ(c.restart, outcome.restartNeeded) << c.code << line;
            EXPECT_EQ(Enabled(), "dword:1");
            ActionOutcome unjudged = {};
            EXPECT_EQ(1, RunAction(&component, line, ResultFromStateFile, &unjudged)) << c.code << line;
            EXPECT_EQ(0, unjudged.exitCodeSuccess);
        }
    // "Failed" in the registry still fails a program whose exit code says
    // success.
    SetEnvironmentVariableA("CV_FAKE_EXIT", "0");
    SetEnvironmentVariableA("CV_FAKE_FAILED", "1");
    ActionOutcome outcome = {};
    EXPECT_EQ(0, RunAction(&component, "run,setup.exe", ResultFromExitCode, &outcome));
    // A copy starts nothing: nothing to judge.
    SetEnvironmentVariableA("CV_FAKE_FAILED", nullptr);
    InstallClient();
    EXPECT_EQ(1, RunAction(&component, "copy,setup.cab", ResultFromExitCode, &outcome));
}

TEST_F(InstallActions, FailedLeftByTheProgramFailsTheActionWhichStillEnables) {
    SetEnvironmentVariableA("CV_FAKE_FAILED", "disk full");
    EXPECT_EQ(Run("run,setup.exe"), 0);
    EXPECT_EQ(Enabled(), "dword:1");

    // A "Failed" longer than the 260 bytes read is still a failure.
    SetEnvironmentVariableA("CV_FAKE_FAILED", std::string(600, 'x').c_str());
    EXPECT_EQ(Run("run,setup.exe"), 0);

    // What an earlier program left is cleared before the next action.
    SetEnvironmentVariableA("CV_FAKE_FAILED", nullptr);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kInstallComponentsKey, "FailedMessage"),
              "stand-in failed");
    EXPECT_EQ(Run("run,setup.exe"), 1);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kInstallComponentsKey, "Failed"), "<none>");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kInstallComponentsKey, "FailedMessage"), "<none>");

    // Without a program to wait for, a "Failed" is not looked at (and is
    // cleared all the same).
    SetStringValue(HKEY_CURRENT_USER, kInstallComponentsKey, "Failed", "stale");
    EXPECT_EQ(Run("copy,setup.cab,1"), 1);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kInstallComponentsKey, "Failed"), "<none>");
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    DeleteFileA((std::string(windows) + "\\setup.cab").c_str());
}

TEST_F(InstallActions, IsPackageUnpacksIntoAFreshFolderAndRunsItsSetup) {
    commandLine = "-x";
    EXPECT_EQ(Run("ispackage,setup.cab,/q"), 1);
    std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 2u);
    std::string folder = log[1];
    packageFolders.push_back(folder);
    EXPECT_EQ(log[0], folder + "\\setup.exe /q -x");
    // A new folder named by the system in the temporary folder, prefix "INS".
    size_t slash = folder.rfind('\\');
    ASSERT_NE(slash, std::string::npos);
    EXPECT_EQ(folder.substr(slash + 1, 3), "INS");
    EXPECT_EQ(lstrcmpiA(folder.substr(0, slash).c_str(), TempFolder().c_str()), 0) << folder;
    EXPECT_EQ(ReadFileText(folder + "\\readme.txt"), "read me\n");
    EXPECT_EQ(Enabled(), "dword:1");
    EXPECT_TRUE(DeferredPackages().empty());
}

TEST_F(InstallActions, IsPackageWithDeferredSetupRecordsNumberedFolders) {
    deferPackageSetup = 1;
    EXPECT_EQ(Run("ispackage,setup.cab"), 1);
    EXPECT_EQ(Run("ispackage,setup.cab"), 1);
    EXPECT_EQ(Log().size(), 0u);  // nothing started
    auto first = DeferredPackages();
    ASSERT_EQ(first.size(), 2u);
    int n = std::min(first[0].first, first[1].first);
    EXPECT_EQ(std::max(first[0].first, first[1].first), n + 1);
    for (const auto& package : first)
        EXPECT_TRUE(Exists(package.second + "\\setup.exe")) << package.second;
    EXPECT_NE(first[0].second, first[1].second);

    // A setup that is started counts too; an archive that cannot be
    // unpacked does not.
    deferPackageSetup = 0;
    EXPECT_EQ(Run("ispackage,setup.cab"), 1);
    packageFolders.push_back(Log().at(1));
    deferPackageSetup = 1;
    EXPECT_EQ(Run("ispackage,broken.cab"), 0);
    EXPECT_EQ(Run("ispackage,setup.cab"), 1);
    auto all = DeferredPackages();
    ASSERT_EQ(all.size(), 3u);
    std::vector<int> numbers;
    for (const auto& package : all) numbers.push_back(package.first);
    EXPECT_THAT(numbers, ::testing::UnorderedElementsAre(n, n + 1, n + 3));
}

TEST_F(InstallActions, PackageUnpacksIntoTheFolderTheFlagsName) {
    // No client installed: nothing happens, and the action succeeds.
    EXPECT_EQ(Run("package,data.zip"), 1);
    EXPECT_EQ(Run("package,data.zip,8"), 1);
    EXPECT_EQ(Run("package,data.zip,4"), 1);
    EXPECT_FALSE(Exists(client + "\\Program"));
    EXPECT_FALSE(Exists(client + "\\data"));
    EXPECT_FALSE(Exists(client + "\\table.dat"));
    EXPECT_EQ(Enabled(), "dword:1");

    InstallClient();
    EXPECT_EQ(Run("package,data.zip"), 1);
    EXPECT_EQ(ReadFileText(client + "\\Program\\table.dat"), "client data\r\n");
    EXPECT_EQ(ReadFileText(client + "\\Program\\maps\\level1.map"), "map one\r\n");
    EXPECT_EQ(Run("package,data.zip,4"), 1);
    EXPECT_EQ(ReadFileText(client + "\\table.dat"), "client data\r\n");
    EXPECT_EQ(Run("package,data.zip,8"), 1);
    EXPECT_EQ(ReadFileText(client + "\\data\\table.dat"), "client data\r\n");

    // Flag 16 asks the library to keep files that are already there.
    WriteFileText(client + "\\data\\table.dat", "changed by the user");
    EXPECT_EQ(Run("package,data.zip,24"), 1);
    EXPECT_EQ(ReadFileText(client + "\\data\\table.dat"), "changed by the user");
    EXPECT_EQ(Run("package,data.zip,8"), 1);
    EXPECT_EQ(ReadFileText(client + "\\data\\table.dat"), "client data\r\n");

    // The data folder named by "Data Path" comes first.
    std::string dataPath = work + "\\datapath";
    SetStringValue(HKEY_CURRENT_USER, kClientKey, "Data Path", dataPath);
    EXPECT_EQ(Run("package,data.zip,8"), 1);
    EXPECT_EQ(ReadFileText(dataPath + "\\maps\\level1.map"), "map one\r\n");
}

TEST_F(InstallActions, PackageAndCopyIntoTheWindowsAndSystemFolders) {
    char windows[MAX_PATH], system[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    GetSystemDirectoryA(system, sizeof system);
    WriteFileText(download + "\\cvinstalltest.txt", "copied");
    EXPECT_EQ(Run("copy,cvinstalltest.txt,1"), 1);
    EXPECT_EQ(Run("copy,cvinstalltest.txt,14"), 1);
    std::string inWindows = std::string(windows) + "\\cvinstalltest.txt";
    std::string inSystem = std::string(system) + "\\cvinstalltest.txt";
    EXPECT_EQ(ReadFileText(inWindows), "copied");
    EXPECT_EQ(ReadFileText(inSystem), "copied");
    DeleteFileA(inWindows.c_str());
    DeleteFileA(inSystem.c_str());

    EXPECT_EQ(Run("package,data.zip,2"), 1);
    std::string table = std::string(system) + "\\table.dat";
    EXPECT_EQ(ReadFileText(table), "client data\r\n");
    DeleteFileA(table.c_str());
    RemoveTree(std::string(system) + "\\maps");
}

TEST_F(InstallActions, CopyIntoTheClientFoldersQueuesComServersWithSixteen) {
    for (const char* name : {"ctl.ocx", "srv.exe", "lib.DLL", "notes.txt", "plain.dll"})
        WriteFileText(download + "\\" + name, name);
    EXPECT_EQ(Run("copy,ctl.ocx,16"), 1);  // client missing: nothing
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kComQueueKey));

    InstallClient();
    ASSERT_TRUE(CreateDirectoryA((client + "\\Program").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((client + "\\data").c_str(), nullptr));
    WriteFileText(client + "\\Program\\ctl.ocx", "older");
    EXPECT_EQ(Run("copy,ctl.ocx,16"), 1);
    EXPECT_EQ(Run("copy,srv.exe,20"), 1);
    EXPECT_EQ(Run("copy,lib.DLL,24"), 1);
    EXPECT_EQ(Run("copy,notes.txt,16"), 1);
    EXPECT_EQ(Run("copy,plain.dll"), 1);
    EXPECT_EQ(ReadFileText(client + "\\Program\\ctl.ocx"), "ctl.ocx");  // replaced
    EXPECT_EQ(ReadFileText(client + "\\srv.exe"), "srv.exe");
    EXPECT_EQ(ReadFileText(client + "\\data\\lib.DLL"), "lib.DLL");
    EXPECT_EQ(ReadFileText(client + "\\Program\\notes.txt"), "notes.txt");
    EXPECT_EQ(ReadFileText(client + "\\Program\\plain.dll"), "plain.dll");

    std::string queue = kComQueueKey;
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, queue + "\\ctl.ocx", "Path"),
              client + "\\Program\\ctl.ocx");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, queue + "\\ctl.ocx", "RegType"), "ComDLL");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, queue + "\\srv.exe", "RegType"), "ComEXE");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, queue + "\\lib.DLL", "Path"),
              client + "\\data\\lib.DLL");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, queue + "\\lib.DLL", "RegType"), "ComDLL");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, queue + "\\notes.txt"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, queue + "\\plain.dll"));

    // A failed copy (the source is missing) queues nothing.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, queue);
    ASSERT_TRUE(DeleteFileA((download + "\\lib.DLL").c_str()));
    EXPECT_EQ(Run("copy,lib.DLL,24"), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, queue + "\\lib.DLL"));

    EXPECT_EQ(QueueComServer("C:\\x\\readme.txt"), 0);
    EXPECT_EQ(QueueComServer("C:\\x\\noextension"), 0);
    EXPECT_EQ(QueueComServer("C:\\x\\tool.EXE"), 1);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, queue + "\\tool.EXE", "RegType"), "ComEXE");
}

TEST_F(InstallActions, FindClientFolderReadsAppPathsAndDataPath) {
    char folder[MAX_PATH];
    EXPECT_EQ(FindClientFolder(folder, 0), 0);
    EXPECT_EQ(FindClientFolder(folder, 1), 0);
    InstallClient();
    EXPECT_EQ(FindClientFolder(folder, 0), 1);
    EXPECT_EQ(std::string(folder), client);
    EXPECT_EQ(FindClientFolder(folder, 1), 1);
    EXPECT_EQ(std::string(folder), client + "\\data");
    SetStringValue(HKEY_CURRENT_USER, kClientKey, "Data Path", "D:\\Quorrin Data");
    EXPECT_EQ(FindClientFolder(folder, 1), 1);
    EXPECT_STREQ(folder, "D:\\Quorrin Data\\");
    EXPECT_EQ(FindClientFolder(folder, 0), 1);
    EXPECT_EQ(std::string(folder), client);
    // An App Paths entry without "Path" is no client.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathsKey);
    SetStringValue(HKEY_LOCAL_MACHINE, kAppPathsKey, "", "C:\\x\\corvane.exe");
    EXPECT_EQ(FindClientFolder(folder, 0), 0);
}

TEST_F(InstallActions, OtherVerbsGoThroughTheShell) {
    std::string command = "\"" + binDir + "\\cv_fake_setup.exe\" \"%1\" %*";
    SetStringValue(HKEY_CLASSES_ROOT, ".cvinstalltest", "", "CvInstallTestFile");
    SetStringValue(HKEY_CLASSES_ROOT, "CvInstallTestFile\\shell\\cvverb\\command", "", command);
    WriteFileText(download + "\\doc.cvinstalltest", "document");

    EXPECT_EQ(Run("cvverb,doc.cvinstalltest,one two"), 1);
    std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_THAT(log[0], ::testing::HasSubstr("doc.cvinstalltest"));
    EXPECT_THAT(log[0], ::testing::EndsWith("one two"));
    EXPECT_EQ(lstrcmpiA(log[1].c_str(), download.c_str()), 0) << log[1];

    // Without arguments the program's own command line is passed.
    commandLine = "/NoIntervention";
    EXPECT_EQ(Run("cvverb,doc.cvinstalltest"), 1);
    EXPECT_THAT(Log().at(0), ::testing::EndsWith("/NoIntervention"));

    // The program is waited for, so its "Failed" counts.
    SetEnvironmentVariableA("CV_FAKE_FAILED", "1");
    EXPECT_EQ(Run("cvverb,doc.cvinstalltest"), 0);
    EXPECT_EQ(Enabled(), "dword:1");
}

// A timer of the test thread fires while the action waits for the stand-in;
// it only runs if the wait dispatches messages.
struct WaitProbe {
    HANDLE release;
    int ticks;
    bool sawWaitedProcess;
    bool setRestart;
};
WaitProbe* probe = nullptr;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    ++probe->ticks;
    if (waitedProcess != INVALID_HANDLE_VALUE && GetProcessId(waitedProcess) != 0)
        probe->sawWaitedProcess = true;
    if (probe->setRestart)
        restartPending = 1;
    else
        SetEvent(probe->release);
}

class WaitingActions : public InstallActions {
protected:
    void SetUp() override {
        InstallActions::SetUp();
        char name[64];
        snprintf(name, sizeof name, "CvInstallHold%lu", GetCurrentProcessId());
        release = CreateEventA(nullptr, TRUE, FALSE, name);
        done = CreateEventA(nullptr, TRUE, FALSE, (std::string(name) + "_done").c_str());
        ASSERT_NE(release, nullptr);
        ASSERT_NE(done, nullptr);
        SetEnvironmentVariableA("CV_FAKE_HOLD", name);
        state = {release, 0, false, false};
        probe = &state;
    }

    void TearDown() override {
        SetEvent(release);
        WaitForSingleObject(done, 10000);
        if (timer) KillTimer(nullptr, timer);
        CloseHandle(release);
        CloseHandle(done);
        probe = nullptr;
        InstallActions::TearDown();
    }

    HANDLE release = nullptr;
    HANDLE done = nullptr;
    UINT_PTR timer = 0;
    WaitProbe state;
};

TEST_F(WaitingActions, TheWaitKeepsMessagesFlowingAndPublishesTheProcess) {
    timer = SetTimer(nullptr, 0, 50, OnTimer);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(Run("run,setup.exe"), 1);
    EXPECT_GE(state.ticks, 1);
    EXPECT_TRUE(state.sawWaitedProcess);
    EXPECT_EQ(WaitForSingleObject(done, 0), WAIT_OBJECT_0);  // it ran to its end
    EXPECT_EQ(waitedProcess, INVALID_HANDLE_VALUE);
}

void CALLBACK OnTimerQuit(HWND, UINT, UINT_PTR, DWORD) {
    ++probe->ticks;
    if (probe->ticks == 1) PostQuitMessage(7);
    if (probe->ticks == 2) SetEvent(probe->release);
}

TEST_F(WaitingActions, AQuitMessageDuringTheWaitIsKeptForTheCaller) {
    timer = SetTimer(nullptr, 0, 50, OnTimerQuit);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(Run("run,setup.exe"), 1);
    EXPECT_GE(state.ticks, 2);  // the wait went on after the quit message
    KillTimer(nullptr, timer);
    timer = 0;
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) quit = msg.wParam == 7;
    EXPECT_TRUE(quit);
}

TEST_F(WaitingActions, RestartPendingEndsTheWaitEarly) {
    state.setRestart = true;
    timer = SetTimer(nullptr, 0, 50, OnTimer);
    ASSERT_NE(timer, 0u);
    SetEnvironmentVariableA("CV_FAKE_FAILED", "never seen");
    EXPECT_EQ(Run("run,setup.exe"), 1);  // its "Failed" comes later
    EXPECT_EQ(restartPending, 1);
    EXPECT_EQ(waitedProcess, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Enabled(), "dword:1");
    // The program is still running: the wait did not wait for its end.
    EXPECT_EQ(WaitForSingleObject(done, 0), (DWORD)WAIT_TIMEOUT);
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kInstallComponentsKey, "Failed"), "never seen");
}

class RegistryImport : public InstallActions {};

TEST_F(RegistryImport, WritesDwordsAndStringsAndSkipsOtherLines) {
    WriteFileText(infPath,
                  "[Reg1]\r\n"
                  "HKCU,Software\\CvInstallTest\\A,Count=n,42\r\n"
                  "HKCU,Software\\CvInstallTest\\A,Greeting=s,hello, world=1\r\n"
                  "hklm,Software\\CvInstallTest\\B,Big=Number,4294967295\r\n"
                  ";HKCU,Software\\CvInstallTest\\A,Comment=s,no\r\n"
                  "HKCU,Software\\CvInstallTest\\A,NoEquals\r\n"
                  "HKCU,Software\\CvInstallTest\\A=s,one comma only\r\n"
                  "HKCU,Software\\CvInstallTest\\A,=s,default value\r\n");
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Reg1"), 1);
    std::string a = "Software\\CvInstallTest\\A";
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, a, "Count"), "dword:42");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, a, "Greeting"), "hello, world=1");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "Software\\CvInstallTest\\B", "Big"),
              "dword:4294967295");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, a, ""), "default value");
    EXPECT_THAT(ValueNames(HKEY_CURRENT_USER, a),
                ::testing::UnorderedElementsAre("Count", "Greeting", ""));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\CvInstallTest\\A=s"));
}

TEST_F(RegistryImport, ADwordThatIsNoNumberIsWrittenAsZeroAndFails) {
    WriteFileText(infPath,
                  "[Reg2]\r\n"
                  "HKCU,Software\\CvInstallTest,Bad=n,forty-two\r\n"
                  "HKCU,Software\\CvInstallTest,After=s,still written\r\n");
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Reg2"), 0);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kImportKey, "Bad"), "dword:0");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kImportKey, "After"), "still written");
}

TEST_F(RegistryImport, AnUnknownRootStopsTheImport) {
    WriteFileText(infPath,
                  "[Reg3]\r\n"
                  "HKCU,Software\\CvInstallTest,Before=s,1\r\n"
                  "HKXX,Software\\CvInstallTest,Bad=s,1\r\n"
                  "HKCU,Software\\CvInstallTest,AfterBad=s,1\r\n"
                  "[Empty]\r\n");
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Reg3"), 0);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kImportKey, "Before"), "1");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kImportKey, "AfterBad"), "<none>");
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Empty"), 0);
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Missing"), 0);
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), ""), 0);
}

TEST_F(RegistryImport, ASectionFromAnotherFile) {
    WriteFileText(download + "\\more.ini",
                  "[Reg4]\r\nHKCU,Software\\CvInstallTest,FromOther=N,7\r\n");
    std::string elsewhere = work + "\\elsewhere.ini";
    WriteFileText(elsewhere, "[Reg5]\r\nHKCU,Software\\CvInstallTest,FromFull=s,yes\r\n");
    // A relative file lies beside the component's setup file.
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Reg4@more.ini"), 1);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kImportKey, "FromOther"), "dword:7");
    // A file elsewhere is not one that came with the setup: nothing of it
    // is written.
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), ("Reg5@" + elsewhere).c_str()), 0);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kImportKey, "FromFull"), "<none>");
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Reg4@missing.ini"), 0);
}

// Where the program runs in UTF-8, a file in the legacy code page gives the
// registry the same text as in a program that does not.
TEST_F(RegistryImport, AFileInTheLegacyCodePageWritesItsText) {
    UseProgramCodePage();
    ASSERT_TRUE(TextsUtf8());
    WriteFileText(download + "\\legacy.ini", "[Reg6]\r\nHKCU,Software\\CvInstallTest,Caf\xE9=s,M\xFCller\r\n");
    EXPECT_EQ(ImportRegistrySection(infPath.c_str(), "Reg6@legacy.ini"), 1);
    SetTextsUtf8(false);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\CvInstallTest", 0, KEY_READ, &key), ERROR_SUCCESS);
    wchar_t value[32] = L"";
    DWORD size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, L"Caf\u00e9", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_STREQ(L"M\u00fcller", value);
}

TEST(UnpackArchive, CallsTheLibraryOnceLoaded) {
    const char* data = getenv("CV_TEST_DATA");
    ASSERT_NE(data, nullptr);
    std::string dir = WindowsPath(data);
    ASSERT_NO_FATAL_FAILURE(LoadExtractionLibrary());
    std::string target = dir + "\\unpack-direct";
    RemoveTree(target);
    // It stays loaded for the process: later calls need no folder.
    EXPECT_EQ(UnpackArchive((dir + "\\data.zip").c_str(), target.c_str(), 0, ""), 1);
    EXPECT_EQ(ReadFileText(target + "\\maps\\level1.map"), "map one\r\n");
    EXPECT_EQ(UnpackArchive((dir + "\\broken.cab").c_str(), target.c_str(), 0, nullptr), 0);
    RemoveTree(target);
}

}  // namespace
