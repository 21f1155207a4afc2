// Shared fixture of the fetch tests: a transport reporting to a recorder,
// opened on a site and fetching into a directory of its own.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "base/process_win.h"
#include "base/run_log.h"
#include "download/http_downloader_win.h"
#include "download/shared_http_settings.h"
#include "harness.h"

// The run log's lines in memory; the worker thread writes them.
class RunLogLines : public LogSink {
public:
    RunLogLines() {
        InitializeCriticalSection(&lock);
        SetLogSink(this);
    }
    ~RunLogLines() {
        SetLogSink(nullptr);
        DeleteCriticalSection(&lock);
    }
    void Now(LogTime* t) override { *t = LogTime{2026, 1, 1, 0, 0, 0, 0}; }
    void Write(const char* line, int length) override {
        EnterCriticalSection(&lock);
        text.append(line, static_cast<size_t>(length));
        LeaveCriticalSection(&lock);
    }
    // True when the parts appear in this order.
    bool InOrder(std::initializer_list<const char*> parts) {
        EnterCriticalSection(&lock);
        size_t at = 0;
        bool found = true;
        for (const char* part : parts) {
            at = text.find(part, at);
            if (at == std::string::npos) {
                found = false;
                break;
            }
        }
        LeaveCriticalSection(&lock);
        return found;
    }
    std::string Text() {
        EnterCriticalSection(&lock);
        std::string copy = text;
        LeaveCriticalSection(&lock);
        return copy;
    }
    std::string text;
    CRITICAL_SECTION lock;
};

class FetchFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ClearBrowserProxies();
        settingsConfirmed = 0;
        SharedSettingsSite[0] = 0;
        CopySettings(nullptr);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        local = TestDirectory(std::string(info->test_suite_name()) + "-" + info->name());
        transport = new HttpDownloader;
        ASSERT_NE(nullptr, transport->state);
        ASSERT_TRUE(transport->CreateMessageWindow(recorder.hwnd));
        // Short waits, so that refused or silent connections fail quickly.
        transport->state->timeouts.connectSeconds = 2;
        transport->state->timeouts.ioSeconds = 10;
        transport->state->timeouts.retrySleepMs = 20;
    }
    void TearDown() override {
        delete transport;
        transport = nullptr;
        // No worker of this test may run into the next one.
        EXPECT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }, 120000));
        ClearBrowserProxies();
        settingsConfirmed = 0;
        SharedSettingsSite[0] = 0;
        CopySettings(nullptr);
    }

    // Credentials, Open and the wait for "dl1", as the download dialog does.
    void Open(const std::string& site, const std::string& proxy = "", const std::string& port = "",
              const std::string& user = "", const std::string& password = "") {
        transport->SetCredentials(user.c_str(), password.c_str());
        transport->SetProxyCredentials("", "");
        int before = recorder.Count(msgDl1);
        ASSERT_EQ(1, transport->Open(site.c_str(), proxy.c_str(), port.c_str()));
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) > before; }));
        ASSERT_EQ(0u, recorder.Last(msgDl1)->wParam);
    }

    // Fetches the layout's file into local\tmp.tmp and waits for "dl4";
    // returns its wParam, or -1 when none came in time.
    int Fetch(const std::string& remote, DWORD milliseconds = 120000) {
        int before = recorder.Count(msgDl4);
        std::string path = remote + "/";
        if (transport->Fetch(path.c_str(), Target().c_str()) != 1) return -2;
        if (!PumpUntil([&] { return recorder.Count(msgDl4) > before; }, milliseconds)) return -1;
        return static_cast<int>(recorder.Last(msgDl4)->wParam);
    }

    // A transport that gives up after `tries` failed tries, in place of
    // the fixture's.
    void UseTries(int tries) {
        HttpTimeouts timeouts = transport->state->timeouts;
        delete transport;
        transport = new HttpDownloader(tries);
        ASSERT_NE(nullptr, transport->state);
        ASSERT_TRUE(transport->CreateMessageWindow(recorder.hwnd));
        transport->state->timeouts = timeouts;
    }

    std::string Target() const { return local + "\\tmp.tmp"; }
    std::string Part(int n) const {
        char name[32];
        snprintf(name, sizeof name, "\\file%03d.bin", n);
        return local + name;
    }
    static std::string NginxSite() { return "http://127.0.0.1:" + std::to_string(HttpPort()); }

    Recorder recorder;
    HttpDownloader* transport = nullptr;
    std::string local;
};
