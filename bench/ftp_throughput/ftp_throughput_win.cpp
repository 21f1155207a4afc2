// Fetches one file with the FTP transport and prints how long the login and
// the transfer took: ftp_throughput SITE REMOTE_PATH LOCAL_FILE
#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#include "base/process_win.h"
#include "download/ftp_downloader_win.h"
#include "download/report_bytes.h"
#include "ui/window_win.h"

namespace {

// Counts the transport's reports; the last code of each kind is kept.
class Sink : public WindowBase {
public:
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == msgDl1) { dl1 = static_cast<int>(wParam); ++opened; }
        else if (message == msgDl2) {
            size = ReportBytes(wParam, lParam);
            if (ReportCode(wParam)) { dl4 = 100; ++ended; }
        }
        else if (message == msgDl3) { received = ReportBytes(wParam, lParam); ++blocks; }
        else if (message == msgDl4) { dl4 = static_cast<int>(wParam); ++ended; }
        else return DefWindowProcA(hwnd, message, wParam, lParam);
        return 0;
    }
    int dl1 = -1, dl4 = -1, opened = 0, ended = 0;
    long long size = 0, received = 0, blocks = 0;
};

double Now() {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency.QuadPart;
}

// Runs the message loop the way a modal dialog does (GetMessage), until
// `counter` moves or `limitMs` have passed (a timer wakes the loop).
bool PumpUntil(const int& counter, DWORD limitMs) {
    DWORD start = GetTickCount();
    UINT_PTR watchdog = SetTimer(nullptr, 0, 500, nullptr);
    MSG m;
    while (!counter && GetTickCount() - start < limitMs && GetMessageA(&m, nullptr, 0, 0) > 0)
        DispatchMessageA(&m);
    KillTimer(nullptr, watchdog);
    return counter != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: ftp_throughput SITE REMOTE_PATH LOCAL_FILE\n");
        return 2;
    }
    if (StartSockets() != 0) return 1;
    Sink sink;
    RegisterWindowClass("FtpBenchSink", 0, nullptr, nullptr, nullptr, nullptr);
    sink.Create("FtpBenchSink", "", 0, 0, 0, 0, 10, 10, nullptr, nullptr);
    FtpDownloader ftp;
    ftp.CreateMessageWindow(sink.hwnd);
    double t0 = Now();
    ftp.Open(argv[1], "", "");
    if (!PumpUntil(sink.opened, 60000) || sink.dl1 != 0) {
        fprintf(stderr, "login failed (%d)\n", sink.dl1);
        return 1;
    }
    double t1 = Now();
    if (!ftp.Fetch(argv[2], argv[3])) {
        fprintf(stderr, "fetch did not start\n");
        return 1;
    }
    if (!PumpUntil(sink.ended, 600000) || sink.dl4 != 0) {
        fprintf(stderr, "transfer failed (%d)\n", sink.dl4);
        return 1;
    }
    double t2 = Now();
    ftp.Close();
    printf("login %.3f s, transfer %.3f s, total %.3f s, %lld bytes in %lld blocks\n", t1 - t0, t2 - t1,
           t2 - t0, sink.received, sink.blocks);
    printf("total_seconds=%.4f\n", t2 - t0);
    DestroyWindow(sink.hwnd);
    return 0;
}
