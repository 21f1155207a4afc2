// Shared pieces of the FTP transport tests under Wine: a notify window that
// records the transport's reports, a bounded message pump, and paths of the
// test servers' files as Windows sees them.
#pragma once
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/process_win.h"
#include "download/ftp_downloader_win.h"
#include "ui/window_win.h"

struct Reported {
    UINT message;
    WPARAM code;
    LPARAM value;
};

// The window the transport reports to; it keeps every "dl1".."dl4".
class NotifyRecorder : public WindowBase {
public:
    NotifyRecorder() {
        RegisterWindowClass("FtpTestNotify", 0, nullptr, nullptr, nullptr, nullptr);
        Create("FtpTestNotify", "", 0, 0, 0, 0, 10, 10, nullptr, nullptr);
    }
    ~NotifyRecorder() {
        if (hwnd) DestroyWindow(hwnd);
    }
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == msgDl1 || message == msgDl2 || message == msgDl3 || message == msgDl4) {
            reports.push_back({message, wParam, lParam});
            if (onReport) onReport(reports.back());
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    int Count(UINT message) const {
        int n = 0;
        for (const Reported& r : reports) n += r.message == message;
        return n;
    }
    const Reported* Last(UINT message) const {
        for (auto it = reports.rbegin(); it != reports.rend(); ++it)
            if (it->message == message) return &*it;
        return nullptr;
    }

    std::vector<Reported> reports;
    std::function<void(const Reported&)> onReport;
};

// Runs the message loop until `done` holds or `limitMs` have passed;
// false on the latter. Waits for messages, never sleeps.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
            if (done()) return true;
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limitMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, limitMs - elapsed, QS_ALLINPUT);
    }
}

inline std::string Env(const char* name, const char* fallback = "") {
    const char* v = getenv(name);
    return v && *v ? v : fallback;
}

// A Unix path as Windows programs under Wine see it.
inline std::string WinPath(const std::string& unixPath) {
    std::string out = "Z:" + unixPath;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::string out;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return out;
    char buffer[65536];
    DWORD n;
    while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n) out.append(buffer, n);
    CloseHandle(f);
    return out;
}

inline bool WriteWholeFile(const std::string& path, const std::string& data) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) && n == data.size();
    CloseHandle(f);
    return ok;
}

class FtpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
    }

    void SetUp() override {
        ftpDir = WinPath(Env("CV_FTP_DIR"));
        srvDir = WinPath(Env("CV_SRV_DIR"));
        ASSERT_FALSE(Env("CV_FTP_DIR").empty()) << "the FTP servers' environment is missing";
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        localDir = std::string(temp) + "cv_ftp_test_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(localDir.c_str(), nullptr);
        localFile = localDir + "\\tmp.tmp";
    }

    void TearDown() override {
        ftp.reset();
        DeleteFileA(localFile.c_str());
        RemoveDirectoryA(localDir.c_str());
    }

    // A transport reporting to `notify`, with the given time-out.
    FtpDownloader& Make(unsigned timeoutMs = FtpDownloader::kDefaultTimeout) {
        ftp.reset(new FtpDownloader(timeoutMs));
        EXPECT_TRUE(ftp->CreateMessageWindow(notify.hwnd));
        return *ftp;
    }

    // Opens `site` and waits for "dl1"; its code.
    int OpenAndWait(const std::string& site, const char* user = "", const char* password = "") {
        ftp->SetCredentials(user, password);
        ftp->SetProxyCredentials("", "");
        size_t before = notify.Count(msgDl1);
        if (!ftp->Open(site.c_str(), "", "")) return -1;
        if (!PumpUntil([&] { return notify.Count(msgDl1) > static_cast<int>(before); })) return -2;
        return static_cast<int>(notify.Last(msgDl1)->code);
    }

    // Fetches and waits for the end report ("dl4", or "dl2" 4); its code.
    int FetchAndWait(const std::string& remote, const std::string& local, DWORD limitMs = 20000) {
        notify.reports.clear();
        if (!ftp->Fetch(remote.c_str(), local.c_str())) return -1;
        bool ended = PumpUntil(
            [&] {
                const Reported* dl2 = notify.Last(msgDl2);
                return notify.Count(msgDl4) > 0 || (dl2 && dl2->code != 0);
            },
            limitMs);
        if (!ended) return -2;
        const Reported* dl4 = notify.Last(msgDl4);
        return dl4 ? static_cast<int>(dl4->code) : 100 + static_cast<int>(notify.Last(msgDl2)->code);
    }

    // Handles what is queued now, so that a stray report would show up.
    void Drain() {
        MSG m;
        for (int i = 0; i < 1000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&m);
    }

    std::string ServerFile(const std::string& name) { return ftpDir + "\\" + name; }

    NotifyRecorder notify;
    std::unique_ptr<FtpDownloader> ftp;
    std::string ftpDir, srvDir, localDir, localFile;
};
