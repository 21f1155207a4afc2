// The download dialog and its completion step, run modally on real setup
// descriptions with scripted transports in place of the network ones: the
// fetch loop's order of calls, its reactions to the transports' reports,
// the questions, the install order, the state file and the run's result.
#include <gtest/gtest.h>

#include "test_files.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <algorithm>
#include <string>
#include <vector>

#include "base/process_win.h"
#include "base/resume_shortcut_win.h"
#include "download/shared_http_settings.h"
#include "http/sha256.h"
#include "download/download_dialog_win.h"
#include "install/elevation_win.h"
#include "download/report_bytes.h"
#include "install/state_file_win.h"
#include "setup/catalogue_win.h"
#include "setup/profile.h"

namespace {

// A transport that answers at once, in the order a real one would, by
// posting its reports to the dialog.
class ScriptedTransport : public Downloader {
public:
    explicit ScriptedTransport(const char* name) : name(name) {}
    int Open(const char* site, const char* proxy, const char* port) override {
        calls.push_back(std::string("open ") + site + "|" + proxy + "|" + port);
        PostMessageA(notifyWindow, msgDl1, connectResult, 0);
        return 1;
    }
    int Close() override {
        calls.push_back("close");
        return 0;
    }
    int Fetch(const char* remotePath, const char* localFile) override {
        calls.push_back(std::string("fetch ") + remotePath);
        lastLocalFile = localFile;
        ++fetches;
        if (onFetch && !onFetch(fetches)) return 1;  // the hook took over
        if (!fetchStarts) return 0;
        if (transferResult) {
            PostMessageA(notifyWindow, msgDl2, transferResult, 0);
            return 1;
        }
        FILE* f = fopen(localFile, "wb");
        if (f) {
            fputs(content.c_str(), f);
            fclose(f);
        }
        Post(msgDl2, size >= -1 ? size : static_cast<long long>(content.size()));
        if (progress.empty()) Post(msgDl3, static_cast<long long>(content.size()));
        for (long long bytes : progress) Post(msgDl3, bytes);
        PostMessageA(notifyWindow, msgDl4, doneResult, 0);
        return 1;
    }
    void SetCredentials(const char* user, const char* password) override {
        calls.push_back(std::string("user ") + user + "|" + password);
    }
    void SetProxyCredentials(const char* user, const char* password) override {
        calls.push_back(std::string("proxyuser ") + user + "|" + password);
    }
    // A "dl2" or "dl3" with its byte count packed as the transports do.
    void Post(UINT message, long long bytes) {
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
        PackReportBytes(0, bytes, &wParam, &lParam);
        PostMessageA(notifyWindow, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    }

    std::string name;
    std::vector<std::string> calls;
    int connectResult = 0;
    int fetchStarts = 1;
    int transferResult = 0;
    int doneResult = 0;
    int fetches = 0;
    std::string content = "fetched";
    long long size = -2;              // reported size; -2: that of the content
    std::vector<long long> progress;  // "dl3" counts; empty: the content's size
    std::string lastLocalFile;
    // Called on each Fetch; returning false means the hook answered itself.
    std::function<bool(int)> onFetch;
};

// The dialog with its questions answered from a script and its
// interruptions of the HTTP worker recorded.
class ScriptedDialog : public DownloadDialog {
public:
    ScriptedDialog(const char* folder, const char* inf, int showIntro, int resuming)
        : DownloadDialog(folder, showIntro, resuming, inf, 0) {}

    std::map<WORD, INT_PTR> answers;  // template id -> button
    std::vector<WORD> questions;
    std::vector<UINT> messages;
    std::vector<std::string> statusAtMessage;
    std::vector<std::string> statesAtMessage;
    std::vector<int> progressAtMessage;  // the bar's position, then its range

    std::vector<std::string> interrupts;
    int answerToQuit = IDYES;
    int everShown = 0;
    // Called when the dialog starts, before its own initialisation.
    std::function<void()> onInit;

    std::string RowStates() {
        std::string states;
        for (int row = 0; row < componentCount; ++row) states += char('0' + GetRowComponent(row)->state);
        return states;
    }
    std::string Status() {
        char text[600];
        GetWindowTextA(statusControl, text, sizeof text);
        return text;
    }

protected:
    INT_PTR RunQuestion(WORD templateId) override {
        questions.push_back(templateId);
        statesAtMessage.push_back(RowStates());
        auto found = answers.find(templateId);
        return found == answers.end() ? 1 : found->second;
    }
    int ShowRunMessage(UINT textId, UINT type) override {
        messages.push_back(textId);
        statusAtMessage.push_back(Status());
        statesAtMessage.push_back(RowStates());
        HWND bar = GetDlgItem(hwnd, 1001);
        progressAtMessage.push_back(static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)));
        progressAtMessage.push_back(static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
        return textId == 593 ? answerToQuit : IDOK;
    }
    void InterruptHttp(int pause) override { interrupts.push_back(pause ? "pause" : "stop"); }
    void ClearHttpInterrupt() override { interrupts.push_back("clear"); }
    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_INITDIALOG && onInit) onInit();
        if (message == WM_SHOWWINDOW && wParam) everShown = 1;
        if (message == WM_WINDOWPOSCHANGED &&
            (reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW))
            everShown = 1;
        return DownloadDialog::HandleDialogMessage(message, wParam, lParam);
    }
};

class DownloadRun : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH];
        GetTempFileNameA(temp, "dlg", 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        folder = name;
        inf = folder + "\\setup.inf";
        DeleteStateFile();
        ClearProfileCache();
        restartPending = 0;
        secondInstance = 0;
        unattendedRun = 0;
        const char* bin = getenv("CV_BIN_DIR");
        clientSetup = bin ? WindowsPath(bin) + "\\cvclientsetup.exe" : "";
    }
    void TearDown() override {
        SetResumeShortcut(0, "", "");
        DeleteStateFile();
        restartPending = 0;
        unattendedRun = 0;
        DeleteTreeQuietly(folder);
    }
    static void DeleteTreeQuietly(const std::string& dir) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name == "." || name == "..") continue;
                std::string path = dir + "\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteTreeQuietly(path);
                } else {
                    DeleteFileA(path.c_str());
                }
            } while (FindNextFileA(find, &data));
            FindClose(find);
        }
        RemoveDirectoryA(dir.c_str());
    }

    INT_PTR Run(ScriptedDialog& dialog) {
        dialog.ftpTransport = &ftp;
        dialog.httpTransport = &http;
        return dialog.ShowModal(nullptr);
    }
    std::string State(const char* section, const char* key) {
        char path[MAX_PATH];
        char value[100];
        GetStateFilePath(path);
        GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, path);
        return value;
    }
    // A setup description with [defs] and the given component sections.
    void WriteInf(const std::string& defs, const std::string& components) {
        WriteFileText(inf, "[defs]\r\n" + defs + "\r\n" + components);
    }

    std::string folder;
    std::string inf;
    std::string clientSetup;
    ScriptedTransport ftp{"ftp"};
    ScriptedTransport http{"http"};
};

const char kTwoSites[] =
    "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=web.example\r\nsourceDir=pkgs/a\r\nfiles=a.bin\r\n"
    "user=ua\r\npassword=pa\r\nDisplayOrder=1\r\n"
    "[b]\r\nname=Beta\r\nProtocol=http\r\nsite=WEB.example\r\nsourceDir=pkgs/b\r\nfiles=sub\\b.bin\r\n"
    "user=ub\r\nDisplayOrder=2\r\n"
    "[c]\r\nname=Gamma\r\nProtocol=FTP\r\nsite=web.example\r\nsourceDir=pub\r\nfiles=c1.bin c2.bin\r\n"
    "proxy=px\r\nport=8080\r\nDisplayOrder=3\r\n";

TEST_F(DownloadRun, FetchesEveryFileAndReusesAConnectionPerTransport) {
    WriteInf("allowintervention=FALSE\r\ncomponents=c,b,a\r\n", kTwoSites);
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    INT_PTR result = Run(dialog);

    // The second component on the same site (in other case) reuses the
    // HTTP connection; the FTP transport has to connect on its own.
    std::vector<std::string> httpCalls = {"user ua|pa", "proxyuser |", "open web.example||",
                                          "fetch pkgs/a/", "fetch pkgs/b/"};
    EXPECT_EQ(http.calls, httpCalls);
    std::vector<std::string> ftpCalls = {"user |", "proxyuser |", "open web.example|px|8080",
                                         "fetch pub/c1.bin", "fetch pub/c2.bin"};
    EXPECT_EQ(ftp.calls, ftpCalls);
    EXPECT_EQ(http.lastLocalFile, folder + "\\tmp.tmp");
    EXPECT_EQ(ReadFileText(folder + "\\a.bin"), "fetched");
    EXPECT_EQ(ReadFileText(folder + "\\sub\\b.bin"), "fetched");
    EXPECT_EQ(ReadFileText(folder + "\\c2.bin"), "fetched");
    EXPECT_FALSE(Exists(folder + "\\tmp.tmp"));

    // Without intervention nothing is asked; the client's setup did not
    // report success, so the files stay for the next start.
    EXPECT_TRUE(dialog.questions.empty());
    EXPECT_TRUE(dialog.messages.empty());
    EXPECT_EQ(result, 1009);
    EXPECT_EQ(State("download", "complete"), "1");
    EXPECT_EQ(State("result", "success"), "0");
    // The program was copied into the folder for the resume shortcut.
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    EXPECT_TRUE(Exists(folder + strrchr(program, '\\')));
}

TEST_F(DownloadRun, FilesAlreadyPresentAreNotFetched) {
    WriteInf("allowintervention=FALSE\r\ncomponents=a\r\n",
             "[a]\r\nname=Alpha\r\nProtocol=ftp\r\nsite=h\r\nfiles=x.bin y.bin\r\n");
    WriteFileText(folder + "\\x.bin", "old");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    Run(dialog);
    std::vector<std::string> calls = {"user |", "proxyuser |", "open h||", "fetch y.bin"};
    EXPECT_EQ(ftp.calls, calls);
    EXPECT_EQ(ReadFileText(folder + "\\x.bin"), "old");
}

TEST_F(DownloadRun, RefusedConnectionKeepsTheFilesAndSaysWhy) {
    WriteInf("components=a,b\r\n",
             "[a]\r\nname=Alpha\r\nProtocol=ftp\r\nsite=refusing.host\r\nfiles=x.bin\r\nDisplayOrder=1\r\n"
             "[b]\r\nname=Beta\r\nProtocol=http\r\nsite=other\r\nfiles=y.bin\r\nDisplayOrder=2\r\n");
    ftp.connectResult = 3;
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1009);
    ASSERT_EQ(dialog.messages, std::vector<UINT>{585});
    EXPECT_EQ(dialog.statusAtMessage[0], "Error: Unable to connect to 'refusing.host'.");
    EXPECT_EQ(dialog.statesAtMessage.back(), "32");  // error, the other not reached
    EXPECT_TRUE(http.calls.empty());
    EXPECT_TRUE(Exists(inf));
}

TEST_F(DownloadRun, FetchThatCannotStartAfterConnectingDoesNotDeleteTheRun) {
    WriteInf("components=a,b\r\n",
             "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h1\r\nfiles=x.bin\r\nDisplayOrder=1\r\n"
             "[b]\r\nname=Beta\r\nProtocol=ftp\r\nsite=h2\r\nfiles=y.bin\r\nDisplayOrder=2\r\n");
    ftp.fetchStarts = 0;
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    // Ending with 1003 would remove the download folder with x.bin in it.
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_EQ(dialog.messages, std::vector<UINT>{585});
    EXPECT_EQ(ReadFileText(folder + "\\x.bin"), "fetched");
}

TEST_F(DownloadRun, TransferFailuresShowTheirTexts) {
    const char components[] =
        "[a]\r\nname=Alpha\r\nProtocol=ftp\r\nsite=h1\r\nfiles=x.bin\r\n";
    struct Case {
        int transfer, done;
        const char* status;
    } cases[] = {
        {4, 0, "Error in receiving file 'x.bin' from 'h1'."},
        {0, 4, "Error in receiving file 'x.bin' from 'h1'."},
        {0, 5, "Error while downloading x.bin: Out of disk space. Remove some files and run again."},
    };
    for (const Case& c : cases) {
        WriteInf("components=a\r\n", components);
        ScriptedTransport transport("ftp");
        transport.transferResult = c.transfer;
        transport.doneResult = c.done;
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
        dialog.ftpTransport = &transport;
        dialog.httpTransport = &http;
        EXPECT_EQ(dialog.ShowModal(nullptr), 1009);
        ASSERT_EQ(dialog.messages, std::vector<UINT>{585});
        EXPECT_EQ(dialog.statusAtMessage[0], c.status);
        EXPECT_EQ(dialog.statesAtMessage[0], "3");
        DeleteFileA((folder + "\\x.bin").c_str());
        DeleteFileA((folder + "\\tmp.tmp").c_str());
    }
}

// A component fetched with the given reports, followed by one without a
// site: the run then stops at message 585 with the last progress shown.
const char kFetchedThenMissing[] =
    "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=x.bin\r\nDisplayOrder=1\r\n"
    "[b]\r\nname=Beta\r\nProtocol=http\r\nfiles=y.bin\r\nDisplayOrder=2\r\n";

TEST_F(DownloadRun, BurstOfProgressEndsShowingTheLastReport) {
    WriteInf("components=a,b\r\n", kFetchedThenMissing);
    http.size = 300 * 1024;
    for (int k = 1; k <= 300; ++k) http.progress.push_back(k * 1024LL);
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1009);
    ASSERT_EQ(dialog.messages, std::vector<UINT>{585});
    EXPECT_EQ(dialog.statusAtMessage[0], "Downloading file 'x.bin' (300K of 300K)...");
    EXPECT_EQ(dialog.progressAtMessage, (std::vector<int>{300, 300}));
}

TEST_F(DownloadRun, FilesPastFourGiBShowWholeSizesAndProgress) {
    WriteInf("components=a,b\r\n", kFetchedThenMissing);
    const long long kGiB = 1024LL * 1024 * 1024;
    http.size = 5 * kGiB;
    http.progress = {4 * kGiB + 600};
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1009);
    ASSERT_EQ(dialog.messages, std::vector<UINT>{585});
    EXPECT_EQ(dialog.statusAtMessage[0], "Downloading file 'x.bin' (4194305K of 5242880K)...");
    EXPECT_EQ(dialog.progressAtMessage, (std::vector<int>{4194304, 5242880}));
}

// Set while the progress test below waits for the dialog; a timer routine
// has no other way to reach it.
ScriptedDialog* progressDialog = nullptr;
std::string progressSeen;
DWORD progressWaitStart = 0;

void CALLBACK WatchProgress(HWND, UINT, UINT_PTR timer, DWORD) {
    std::string status = progressDialog->Status();
    bool shown = status.find("(2K of 4K)") != std::string::npos;
    if (!shown && GetTickCount() - progressWaitStart < 10000) return;
    KillTimer(nullptr, timer);
    progressSeen = status;
    PostMessageA(progressDialog->hwnd, msgDl4, 0, 0);
}

TEST_F(DownloadRun, ProgressHeldBackIsShownWithoutAFurtherReport) {
    WriteInf("components=a,b\r\n", kFetchedThenMissing);
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    progressDialog = &dialog;
    progressSeen.clear();
    http.onFetch = [&](int) {
        WriteFileText(http.lastLocalFile, "fetched");
        http.Post(msgDl2, 4096);
        // The second report comes too soon after the first to be painted
        // at once; it must still show, with no report after it.
        http.Post(msgDl3, 1024);
        http.Post(msgDl3, 2048);
        progressWaitStart = GetTickCount();
        SetTimer(nullptr, 0, 20, WatchProgress);
        return false;
    };
    EXPECT_EQ(Run(dialog), 1009);
    progressDialog = nullptr;
    EXPECT_EQ(progressSeen, "Downloading file 'x.bin' (2K of 4K)...");
}

TEST_F(DownloadRun, MissingSiteMarksTheComponentAndTheRunGoesOn) {
    WriteInf("components=a,b\r\n",
             "[a]\r\nname=Alpha\r\nProtocol=http\r\nfiles=x.bin\r\nDisplayOrder=1\r\n"
             "[b]\r\nname=Beta\r\nProtocol=http\r\nsite=h\r\nfiles=y.bin\r\nDisplayOrder=2\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_EQ(dialog.messages, std::vector<UINT>{585});
    EXPECT_EQ(dialog.statesAtMessage[0], "31");
    EXPECT_EQ(ReadFileText(folder + "\\y.bin"), "fetched");
}

TEST_F(DownloadRun, LocalFileMissingEndsWithMessage590) {
    WriteInf("components=a\r\n", "[a]\r\nname=Alpha\r\nProtocol=selfext\r\nfiles=gone.bin\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_EQ(dialog.messages, std::vector<UINT>{590});
    EXPECT_TRUE(dialog.questions.empty());  // no introduction for a local run
    EXPECT_FALSE(dialog.everShown);
}

TEST_F(DownloadRun, IntroductionAndReadyQuestionsWithTheirAnswers) {
    const char components[] = "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=x.bin\r\n";
    {
        WriteInf("components=a\r\n", components);
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
        dialog.answers[105] = 1009;  // "&Exit"
        EXPECT_EQ(Run(dialog), 1003);
        EXPECT_TRUE(http.calls.empty());
    }
    {
        // "&Cancel", then "&Keep files": the next start installs at once.
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
        dialog.answers[104] = 1009;
        dialog.answers[106] = 1;
        EXPECT_EQ(Run(dialog), 1009);
        EXPECT_EQ(dialog.questions, (std::vector<WORD>{105, 104, 106}));
        EXPECT_EQ(State("download", "complete"), "1");
        EXPECT_EQ(State("result", "success"), "<none>");
    }
    {
        // The next start finds complete=1: hidden, nothing fetched, asked.
        http.calls.clear();
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 1);
        dialog.answers[104] = 1009;
        dialog.answers[106] = 1009;  // "&Delete files"
        EXPECT_EQ(Run(dialog), 1003);
        EXPECT_TRUE(http.calls.empty());
        EXPECT_EQ(dialog.questions, (std::vector<WORD>{104, 106}));
        EXPECT_FALSE(dialog.everShown);
        EXPECT_EQ(State("download", "complete"), "0");
    }
}

TEST_F(DownloadRun, QuitAsksAndPausesTheWorkerMeanwhile) {
    WriteInf("components=a\r\n", "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=x.bin y.bin\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    dialog.answerToQuit = IDNO;
    http.onFetch = [&](int n) {
        if (n == 1) {
            // Declined: the fetch goes on; then accepted on the next file.
            PostMessageA(dialog.hwnd, WM_COMMAND, 1003, 0);
            return true;
        }
        dialog.answerToQuit = IDYES;
        PostMessageA(dialog.hwnd, WM_COMMAND, IDCANCEL, 0);
        return false;
    };
    EXPECT_EQ(Run(dialog), 1003);
    EXPECT_EQ(dialog.messages, (std::vector<UINT>{593, 593}));
    EXPECT_EQ(dialog.interrupts, (std::vector<std::string>{"pause", "clear", "pause", "clear", "stop"}));
    EXPECT_EQ(ftp.calls, std::vector<std::string>{"close"});
    EXPECT_EQ(http.calls.back(), "close");
}

TEST_F(DownloadRun, SuspendAndEndOfSessionStopTheWorker) {
    WriteInf("components=a\r\n", "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=x.bin\r\n");
    {
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
        http.onFetch = [&](int) {
            PostMessageA(dialog.hwnd, WM_COMMAND, 1004, 0);
            return false;
        };
        EXPECT_EQ(Run(dialog), 1004);
        EXPECT_EQ(dialog.interrupts, std::vector<std::string>{"stop"});
        EXPECT_EQ(restartPending, 0);
        EXPECT_TRUE(dialog.messages.empty());
    }
    {
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 1);
        LRESULT answer = -1;
        http.onFetch = [&](int) {
            answer = SendMessageA(dialog.hwnd, WM_QUERYENDSESSION, 0, 0);
            return false;
        };
        EXPECT_EQ(Run(dialog), 1004);
        EXPECT_EQ(answer, TRUE);
        EXPECT_EQ(restartPending, 1);
        EXPECT_EQ(dialog.interrupts, std::vector<std::string>{"stop"});
        EXPECT_FALSE(Exists(folder + "\\x.bin"));
    }
}

TEST_F(DownloadRun, WithoutInterventionQuitAndSuspendAreCutOff) {
    WriteInf("allowintervention=FALSE\r\ncomponents=a\r\n",
             "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=x.bin\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    BOOL quitEnabled = TRUE, suspendEnabled = TRUE;
    RECT dialogRect = {}, quitRect = {};
    http.onFetch = [&](int) {
        quitEnabled = IsWindowEnabled(GetDlgItem(dialog.hwnd, 1003));
        suspendEnabled = IsWindowEnabled(GetDlgItem(dialog.hwnd, 1004));
        GetWindowRect(dialog.hwnd, &dialogRect);
        GetWindowRect(GetDlgItem(dialog.hwnd, 1003), &quitRect);
        // Escape and the buttons' commands change nothing.
        PostMessageA(dialog.hwnd, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(dialog.hwnd, WM_COMMAND, 1004, 0);
        PostMessageA(dialog.hwnd, WM_COMMAND, IDOK, 0);
        return true;
    };
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_FALSE(quitEnabled);
    EXPECT_FALSE(suspendEnabled);
    EXPECT_EQ(dialogRect.bottom, quitRect.top);
    EXPECT_TRUE(dialog.questions.empty());
    EXPECT_TRUE(dialog.messages.empty());
    EXPECT_TRUE(dialog.everShown);
}

TEST_F(DownloadRun, InstallRoundsRunInInstallOrderAndSuccessFinishesTheRun) {
    ASSERT_FALSE(clientSetup.empty()) << "CV_BIN_DIR not set";
    ASSERT_TRUE(CopyFileA(clientSetup.c_str(), (folder + "\\setup.exe").c_str(), FALSE));
    std::string log = folder + "\\log.txt";
    std::string run = "run,setup.exe,-log " + log + " -tag ";
    WriteInf("components=a,b,c,d\r\n",
             "[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nDisplayOrder=1\r\nInstallOrder=30\r\ncount=2\r\n"
             "install1=" + run + "a1\r\nextract2=" + run + "a2x\r\ninstall2=" + run + "a2 -success\r\n"
             "[b]\r\nname=Beta\r\nfiles=setup.exe\r\nDisplayOrder=2\r\nInstallOrder=10\r\ninstall1=" + run + "b1\r\n"
             "[c]\r\nname=Gamma\r\nfiles=setup.exe\r\nDisplayOrder=3\r\nInstallOrder=10\r\nextract1=" + run + "c1\r\n"
             "[d]\r\nname=Delta\r\nfiles=setup.exe\r\nInstallOrder=10000\r\ninstall1=" + run + "d1\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    EXPECT_EQ(Run(dialog), 1003);
    std::string text = ReadFileText(log);
    std::vector<std::string> tags;
    for (size_t at = 0; at < text.size();) {
        size_t bar = text.find('|', at);
        size_t end = text.find('\n', at);
        if (bar == std::string::npos || end == std::string::npos) break;
        tags.push_back(text.substr(at, bar - at));
        at = end + 1;
    }
    EXPECT_EQ(tags, (std::vector<std::string>{"b1", "c1", "a1", "a2x", "a2"}));
    // A local run leaves the state file; only a network run removes it.
    EXPECT_EQ(State("result", "success"), "1");
    EXPECT_FALSE(dialog.everShown);
}

TEST_F(DownloadRun, FailedActionStopsTheInstallAndKeepsTheFiles) {
    ASSERT_FALSE(clientSetup.empty()) << "CV_BIN_DIR not set";
    ASSERT_TRUE(CopyFileA(clientSetup.c_str(), (folder + "\\setup.exe").c_str(), FALSE));
    std::string log = folder + "\\log.txt";
    std::string run = "run,setup.exe,-log " + log + " -tag ";
    WriteInf("allowintervention=FALSE\r\ncomponents=a,b,n\r\n",
             "[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=1\r\ninstall1=" + run + "a -fail\r\n"
             "[b]\r\nname=Beta\r\nfiles=setup.exe\r\nInstallOrder=2\r\ninstall1=" + run + "b\r\n"
             "[n]\r\nname=Net\r\nProtocol=http\r\nsite=h\r\nfiles=n.bin\r\nInstallOrder=3\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_EQ(ReadFileText(log).substr(0, 2), "a|");
    EXPECT_EQ(ReadFileText(log).find("b|"), std::string::npos);
    EXPECT_EQ(State("download", "complete"), "1");
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\Corvane\\InstallComponents", &key) == 0) {
        RegDeleteValueA(key, "Failed");
        RegCloseKey(key);
    }
}

TEST_F(DownloadRun, AFailedStepEndsItsComponentAndTheRunKeepsItsFiles) {
    ASSERT_FALSE(clientSetup.empty()) << "CV_BIN_DIR not set";
    ASSERT_TRUE(CopyFileA(clientSetup.c_str(), (folder + "\\setup.exe").c_str(), FALSE));
    WriteFileText(folder + "\\broken.cab", "not an archive");
    std::string log = folder + "\\log.txt";
    std::string run = "run,setup.exe,-log " + log + " -tag ";
    // All local: a run that installs counts as finished on its own, and the
    // first component's setup even reports success; neither may hide that
    // the second one failed.
    WriteInf("components=a,b,c\r\n",
             "[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=1\r\ninstall1=" + run + "a -success\r\n"
             "[b]\r\nname=Beta\r\nfiles=setup.exe broken.cab\r\nInstallOrder=2\r\ncount=2\r\n"
             "extract1=ispackage,broken.cab\r\nregistry1=NotThere\r\ninstall1=" + run + "b1\r\n"
             "install2=" + run + "b2\r\n"
             "[c]\r\nname=Gamma\r\nfiles=setup.exe\r\nInstallOrder=3\r\ninstall1=" + run + "c\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    EXPECT_EQ(Run(dialog), 1009);
    std::string text = ReadFileText(log);
    EXPECT_EQ(text.substr(0, 2), "a|");
    // Neither b's later steps nor the next component ran.
    EXPECT_EQ(text.find("b1|"), std::string::npos) << text;
    EXPECT_EQ(text.find("b2|"), std::string::npos) << text;
    EXPECT_EQ(text.find("c|"), std::string::npos) << text;
    EXPECT_EQ(State("download", "complete"), "1");
    EXPECT_EQ(State("result", "success"), "1");
    EXPECT_TRUE(Exists(folder + "\\setup.exe"));

    // A program that cannot start fails the same way.
    DeleteStateFile();
    WriteInf("components=a\r\n",
             "[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=1\r\n"
             "extract1=run,no-such-setup.exe\r\ninstall1=" + run + "after\r\n");
    ClearProfileCache();
    ScriptedDialog again(folder.c_str(), inf.c_str(), 1, 0);
    EXPECT_EQ(Run(again), 1009);
    EXPECT_EQ(ReadFileText(log).find("after|"), std::string::npos);

    // So does a registry section that cannot be imported (a root that is
    // none of the four), and an action whose file leads out of the folder.
    for (const char* failing : {"registry1=Values\r\n[Values]\r\nHKXX,Software\\CvDialogTest,v=s,1\r\n",
                                "extract1=run,..\\setup.exe\r\n"}) {
        DeleteStateFile();
        WriteInf("components=a\r\n", std::string("[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=1\r\n"
                                                   "install1=") + run + "after\r\n" + failing);
        ClearProfileCache();
        ScriptedDialog third(folder.c_str(), inf.c_str(), 1, 0);
        EXPECT_EQ(Run(third), 1009) << failing;
        EXPECT_EQ(ReadFileText(log).find("after|"), std::string::npos) << failing;
    }
}

namespace {
// Waits until a file exists, woken by the folder's change notifications;
// false after `bound` milliseconds.
bool WaitForFile(const std::string& folder, const std::string& path, DWORD bound) {
    HANDLE change = FindFirstChangeNotificationA(folder.c_str(), FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME |
                                                     FILE_NOTIFY_CHANGE_SIZE);
    DWORD start = GetTickCount();
    bool found = Exists(path);
    while (!found && change != INVALID_HANDLE_VALUE && GetTickCount() - start < bound) {
        WaitForSingleObject(change, bound - (GetTickCount() - start));
        FindNextChangeNotification(change);
        found = Exists(path);
    }
    if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
    return found || Exists(path);
}

// Sends the end of the Windows session to the dialog once the first
// component's setup program is running (it waits for a file meanwhile).
struct EndSessionProbe {
    std::string folder;
    std::string waiting;
    HWND dialog;
    LRESULT answer;
};

DWORD WINAPI EndSessionWhenWaiting(void* context) {
    EndSessionProbe* probe = static_cast<EndSessionProbe*>(context);
    if (WaitForFile(probe->folder, probe->waiting, 60000))
        probe->answer = SendMessageA(probe->dialog, WM_QUERYENDSESSION, 0, 0);
    return 0;
}

const char kPublicComponents[] = "Software\\Corvane\\Corvane\\Public\\Components\\";

bool ComponentEnabled(const char* section) {
    HKEY key;
    std::string path = std::string(kPublicComponents) + section;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void ForgetComponent(const char* section) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kPublicComponents) + section).c_str());
}
}  // namespace

TEST_F(DownloadRun, EndOfTheWindowsSessionEndsTheWaitAndStartsNothingMore) {
    ASSERT_FALSE(clientSetup.empty()) << "CV_BIN_DIR not set";
    ASSERT_TRUE(CopyFileA(clientSetup.c_str(), (folder + "\\setup.exe").c_str(), FALSE));
    std::string release = folder + "\\release";
    std::string log = folder + "\\log.txt";
    WriteInf("components=cvEndA,cvEndB\r\n",
             "[cvEndA]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=1\r\n"
             "install1=run,setup.exe,-wait " + release + " -log " + log + "\r\n"
             "[cvEndB]\r\nname=Beta\r\nfiles=setup.exe\r\nInstallOrder=2\r\n"
             "install1=run,setup.exe\r\n");
    ForgetComponent("cvEndA");
    ForgetComponent("cvEndB");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    EndSessionProbe probe = {folder, release + ".waiting", nullptr, -1};
    HANDLE sender = nullptr;
    dialog.onInit = [&]() {
        probe.dialog = dialog.hwnd;
        sender = CreateThread(nullptr, 0, EndSessionWhenWaiting, &probe, 0, nullptr);
    };
    EXPECT_EQ(Run(dialog), 1004);
    // The wait ended while the program still waits for its release.
    EXPECT_FALSE(Exists(log));
    ASSERT_NE(nullptr, sender);
    WaitForSingleObject(sender, 60000);
    CloseHandle(sender);
    WriteFileText(release, "go");
    EXPECT_TRUE(WaitForFile(folder, log, 60000));  // it ends before the folder goes

    EXPECT_EQ(probe.answer, TRUE);
    EXPECT_EQ(restartPending, 1);
    // The first action was under way; nothing was started after it.
    EXPECT_TRUE(ComponentEnabled("cvEndA"));
    EXPECT_FALSE(ComponentEnabled("cvEndB"));
    ForgetComponent("cvEndA");
    ForgetComponent("cvEndB");
}

TEST_F(DownloadRun, AFileNameLeadingOutOfTheFolderFailsItsComponent) {
    WriteInf("allowintervention=FALSE\r\ncomponents=a,b,c\r\n",
             "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=ok.bin ..\\up.bin\r\nDisplayOrder=1\r\n"
             "[b]\r\nname=Beta\r\nProtocol=ftp\r\nsite=h\r\nfiles=C:\\cvtest-abs.bin\r\nDisplayOrder=2\r\n"
             "[c]\r\nname=Gamma\r\nProtocol=http\r\nsite=h\r\nfiles=sub\\fine.bin\r\nDisplayOrder=3\r\n");
    // Present where the names point: still not taken as the component's.
    WriteFileText(folder + "\\..\\up.bin", "outside");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_EQ(dialog.messages, std::vector<UINT>{585});
    EXPECT_EQ(dialog.statesAtMessage[0], "331");
    // Nothing was fetched for the refused components, not even their
    // harmless names.
    EXPECT_EQ(http.calls, (std::vector<std::string>{"user |", "proxyuser |", "open h||",
                                                    "fetch "}));
    EXPECT_TRUE(ftp.calls.empty());
    EXPECT_EQ(ReadFileText(folder + "\\sub\\fine.bin"), "fetched");
    EXPECT_FALSE(Exists(folder + "\\ok.bin"));
    EXPECT_EQ(ReadFileText(folder + "\\..\\up.bin"), "outside");
    DeleteFileA((folder + "\\..\\up.bin").c_str());
}

TEST_F(DownloadRun, NetworkRunWithReportedSuccessRemovesTheStateFile) {
    ASSERT_FALSE(clientSetup.empty()) << "CV_BIN_DIR not set";
    ASSERT_TRUE(CopyFileA(clientSetup.c_str(), (folder + "\\setup.exe").c_str(), FALSE));
    WriteInf("components=a,n\r\n",
             "[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=2\r\ninstall1=run,setup.exe,-success\r\n"
             "[n]\r\nname=Net\r\nProtocol=http\r\nsite=h\r\nfiles=n.bin\r\nInstallOrder=1\r\n");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1003);
    EXPECT_EQ(dialog.questions, std::vector<WORD>{104});
    EXPECT_EQ(dialog.statesAtMessage[0], "11");
    char path[MAX_PATH];
    GetStateFilePath(path);
    EXPECT_FALSE(Exists(path));
}

TEST_F(DownloadRun, ProxyThatWorkedIsHandedToTheClient) {
    const char components[] = "[a]\r\nname=Alpha\r\nProtocol=http\r\nsite=h\r\nfiles=x.bin\r\n";
    WriteInf("allowintervention=FALSE\r\ncomponents=a\r\n", components);
    CopySettings(nullptr);
    strcpy(SharedHttpSettings.proxyAddress, "proxy.example");
    strcpy(SharedHttpSettings.proxyPort, "3128");
    {
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
        EXPECT_EQ(Run(dialog), 1009);
    }
    EXPECT_EQ(State("ProxySettings", "Valid"), "TRUE");
    EXPECT_EQ(State("ProxySettings", "Proxy"), "proxy.example");
    EXPECT_EQ(State("ProxySettings", "Port"), "3128");

    // Without a proxy only Valid is written; without the flag nothing.
    DeleteStateFile();
    DeleteFileA((folder + "\\x.bin").c_str());
    CopySettings(nullptr);
    {
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
        EXPECT_EQ(Run(dialog), 1009);
    }
    EXPECT_EQ(State("ProxySettings", "Valid"), "FALSE");
    EXPECT_EQ(State("ProxySettings", "Proxy"), "<none>");

    DeleteStateFile();
    DeleteFileA((folder + "\\x.bin").c_str());
    WriteInf("allowintervention=FALSE\r\nSaveProxySettings=FALSE\r\ncomponents=a\r\n", components);
    {
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
        EXPECT_EQ(Run(dialog), 1009);
        EXPECT_EQ(dialog.saveProxySettings, 0);
    }
    EXPECT_EQ(State("ProxySettings", "Valid"), "<none>");
    EXPECT_EQ(State("download", "complete"), "1");
}

TEST_F(DownloadRun, EmptySetupDescriptionFinishesHidden) {
    WriteInf("components=\r\n", "");
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 1, 0);
    EXPECT_EQ(Run(dialog), 1003);
    EXPECT_FALSE(dialog.everShown);
    EXPECT_TRUE(dialog.questions.empty());
}

}  // namespace

namespace {

// The system's side of elevation as each kind of system would answer.
class FakeElevation : public ElevationSystem {
public:
    FakeElevation() { ReplaceElevationSystem(this); }
    ~FakeElevation() { ReplaceElevationSystem(nullptr); }
    int HasElevation() override { return has; }
    int IsElevated() override { return elevated; }
    int StartElevated(HWND, const char* program, const char* arguments, const char* folder,
                      DWORD* error) override {
        started.push_back(std::string(program) + "|" + arguments + "|" + folder);
        *error = starts ? 0 : ERROR_CANCELLED;
        return starts;
    }
    int has = 1;
    int elevated = 0;
    int starts = 1;
    std::vector<std::string> started;
};

}  // namespace

class ElevatedInstall : public DownloadRun {
protected:
    void SetUp() override {
        DownloadRun::SetUp();
        ASSERT_FALSE(clientSetup.empty()) << "CV_BIN_DIR not set";
        ASSERT_TRUE(CopyFileA(clientSetup.c_str(), (folder + "\\setup.exe").c_str(), FALSE));
        log = folder + "\\log.txt";
        WriteInf("components=a,n\r\n",
                 "[a]\r\nname=Alpha\r\nfiles=setup.exe\r\nInstallOrder=2\r\n"
                 "install1=run,setup.exe,-log " + log + " -tag a\r\n"
                 "[n]\r\nname=Net\r\nProtocol=http\r\nsite=h\r\nfiles=n.bin\r\nInstallOrder=1\r\n");
    }
    bool Installed() { return Exists(log); }
    std::string log;
};

TEST_F(ElevatedInstall, UnelevatedRunHandsTheInstallToItsElevatedCopyAndKeepsTheFiles) {
    FakeElevation system;
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
    EXPECT_EQ(Run(dialog), 1009);
    EXPECT_EQ(dialog.questions, std::vector<WORD>{104});
    EXPECT_TRUE(dialog.messages.empty());
    EXPECT_FALSE(Installed());
    // The copy in the download folder, straight to the install of the kept
    // files of this "-inf " run.
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    ASSERT_EQ(1u, system.started.size());
    // With it the list of what it may install, whose SHA-256 it gets: the
    // setup description and the component files, fetched or not.
    const std::string list = ReadFileText(folder + "\\cvkept.lst");
    unsigned char digest[kSha256Size];
    Sha256Of(list.data(), list.size(), digest);
    char sum[kSha256HexLength + 1];
    Sha256Hex(digest, sum);
    std::vector<std::string> listed;
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find('\n', at);
        ASSERT_NE(std::string::npos, end);
        std::string line = list.substr(at, end - at);
        listed.push_back(line.substr(line.find(' ', 65) + 1));
        at = end + 1;
    }
    std::sort(listed.begin(), listed.end());
    const std::string infName = inf.substr(inf.rfind('\\') + 1);
    std::vector<std::string> expected = {infName, "n.bin", "setup.exe"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);
    // (The setup description keeps the default SaveProxySettings=TRUE.)
    EXPECT_EQ(folder + strrchr(program, '\\') + "| /SaveProxySettings /KeptSum:" + sum + " /InstallKept -inf " +
                  inf + "|" + folder,
              system.started[0]);
    EXPECT_EQ(State("result", "success"), "<none>");
    EXPECT_TRUE(Exists(folder + "\\n.bin"));
    EXPECT_TRUE(dialog.handedOver);  // the process ends with "handed over"
}

TEST_F(ElevatedInstall, RefusedPromptKeepsTheFilesSaysSoAndTheNextStartAsksAgain) {
    FakeElevation system;
    system.starts = 0;
    {
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 0);
        EXPECT_EQ(Run(dialog), 1009);
        EXPECT_EQ(dialog.messages, std::vector<UINT>{600});
        EXPECT_FALSE(dialog.handedOver);  // files kept, not handed over
        EXPECT_FALSE(Installed());
        EXPECT_EQ(State("download", "complete"), "1");
    }
    // Started again, this time with the rights: straight to the question,
    // nothing fetched, installed.
    http.calls.clear();
    system.elevated = 1;
    system.started.clear();
    ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, 1);
    EXPECT_EQ(Run(dialog), 1009);  // the stand-in setup reports no success
    EXPECT_EQ(dialog.questions, std::vector<WORD>{104});
    EXPECT_TRUE(http.calls.empty());
    EXPECT_TRUE(system.started.empty());
    EXPECT_TRUE(Installed());
}

TEST_F(ElevatedInstall, ElevatedOlderAndHandedOverRunsInstallAtOnce) {
    struct {
        const char* what;
        int has, elevated, installKept;
    } cases[] = {
        {"elevated already", 1, 1, 0},
        {"system without elevation", 0, 0, 0},
        // The copy installs even when the system did not elevate it: it
        // never hands over again.
        {"the handed-over copy", 1, 0, 1},
    };
    for (const auto& c : cases) {
        FakeElevation system;
        system.has = c.has;
        system.elevated = c.elevated;
        DeleteFileA(log.c_str());
        WriteFileText(folder + "\\n.bin", "fetched before");
        http.calls.clear();
        ScriptedDialog dialog(folder.c_str(), inf.c_str(), 0, c.installKept);
        dialog.installKept = c.installKept;
        EXPECT_EQ(Run(dialog), 1009) << c.what;
        EXPECT_TRUE(system.started.empty()) << c.what;
        EXPECT_TRUE(Installed()) << c.what;
        EXPECT_EQ(State("result", "success"), "0") << c.what;
        // The copy was started by the answer to "Ready to Install".
        EXPECT_EQ(dialog.questions, c.installKept ? std::vector<WORD>{} : std::vector<WORD>{104})
            << c.what;
        if (c.installKept) EXPECT_TRUE(http.calls.empty()) << c.what;
    }
}
