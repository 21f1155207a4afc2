// The transport base and the HTTP transport's own operations: the hidden
// window, the host lookup, Open and its report, credentials, requests.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "base/process_win.h"
#include "download/downloader_win.h"
#include "download/http_downloader_win.h"
#include "harness.h"
#include "http/codec.h"

namespace {
class PlainDownloader : public Downloader {
public:
    int Open(const char*, const char*, const char*) override { return 1; }
    int Close() override { return 0; }
    int Fetch(const char*, const char*) override { return 1; }
};

std::string Scrambled(const std::string& plain, unsigned key = 77) {
    char out[600];
    int n = scramble(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()), key, 3,
                     17, out, sizeof out);
    return n < 0 ? std::string() : std::string(out, n);
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        settingsConfirmed = 0;
        SharedSettingsSite[0] = 0;
        CopySettings(nullptr);
    }
    void TearDown() override {
        settingsConfirmed = 0;
        SharedSettingsSite[0] = 0;
        CopySettings(nullptr);
    }
};
}  // namespace

TEST_F(Transport, HiddenWindowIsMadeAndDestroyedWithItsObject) {
    Recorder notify;
    HWND window;
    {
        PlainDownloader a;
        ASSERT_TRUE(a.CreateMessageWindow(notify.hwnd));
        window = a.hwnd;
        char name[64];
        GetClassNameA(window, name, sizeof name);
        EXPECT_STREQ("Downloader", name);
        GetWindowTextA(window, name, sizeof name);
        EXPECT_STREQ("Downloader", name);
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_TRUE(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        EXPECT_EQ(notify.hwnd, a.notifyWindow);
        // The class is registered once; a second transport still gets a window.
        PlainDownloader b;
        EXPECT_TRUE(b.CreateMessageWindow(notify.hwnd));
        EXPECT_NE(a.hwnd, b.hwnd);
    }
    // Nothing queued for the window can reach the object once it is gone.
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(Transport, HostLookupEndsWithDli1) {
    ASSERT_EQ(0, StartSockets());
    Recorder notify;
    PlainDownloader d;
    ASSERT_TRUE(d.CreateMessageWindow(notify.hwnd));
    ASSERT_EQ(1, d.ResolveHost("localhost"));
    EXPECT_NE(nullptr, d.lookupHandle);
    ASSERT_TRUE(PumpUntil([&] { return d.lookupHandle == nullptr; }, 30000));
    EXPECT_EQ(1, d.hostResolved);
    // The entry is complete within the transport's own buffer.
    hostent* entry = reinterpret_cast<hostent*>(d.hostEntry);
    ASSERT_NE(nullptr, entry->h_addr_list);
    ASSERT_NE(nullptr, entry->h_addr_list[0]);
    EXPECT_GE(entry->h_addr_list[0], d.hostEntry);
    EXPECT_LT(entry->h_addr_list[0], d.hostEntry + sizeof d.hostEntry);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), *reinterpret_cast<u_long*>(entry->h_addr_list[0]));
    WSACleanup();
}

TEST_F(Transport, LookupEndingAfterItsTransportIsGoneTouchesNothingOfIt) {
    ASSERT_EQ(0, StartSockets());
    Recorder notify;
    // The transport lives in pages that are given back when it is destroyed.
    void* pages = VirtualAlloc(nullptr, sizeof(PlainDownloader), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, pages);
    PlainDownloader* gone = new (pages) PlainDownloader;
    ASSERT_TRUE(gone->CreateMessageWindow(notify.hwnd));
    ASSERT_EQ(1, gone->ResolveHost("localhost"));
    gone->~PlainDownloader();
    ASSERT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
    // A later lookup ends after the first one has written its answer.
    PlainDownloader later;
    ASSERT_TRUE(later.CreateMessageWindow(notify.hwnd));
    ASSERT_EQ(1, later.ResolveHost("localhost"));
    ASSERT_TRUE(PumpUntil([&] { return later.lookupHandle == nullptr; }, 30000));
    EXPECT_EQ(1, later.hostResolved);
    WSACleanup();
}

TEST_F(Transport, OpenKeepsTheSiteWithoutSchemeAndReports) {
    Recorder notify;
    HttpDownloader t;
    ASSERT_TRUE(t.CreateMessageWindow(notify.hwnd));
    ASSERT_EQ(1, t.Open("http://host/dir", "proxy.example", "3128"));
    EXPECT_STREQ("host/dir/", t.state->site);
    EXPECT_STREQ("proxy.example", t.state->settings.proxyAddress);
    EXPECT_STREQ("3128", t.state->settings.proxyPort);
    ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl1) == 1; }));
    EXPECT_EQ(0u, notify.reports[0].wParam);
    EXPECT_EQ(0, notify.reports[0].lParam);

    t.Open("host", "", "");
    EXPECT_STREQ("host/", t.state->site);
    t.Open("xhttp://host", "", "");
    EXPECT_STREQ("xhttp://host/", t.state->site);
    // A site that fills the field still ends in "/".
    std::string longSite(400, 'h');
    t.Open(longSite.c_str(), "", "");
    EXPECT_EQ(259u, strlen(t.state->site));
    EXPECT_EQ('/', t.state->site[258]);
    ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl1) == 4; }));
}

TEST_F(Transport, ConfirmedSiteCredentialsOnlyForTheirSiteProxyForAll) {
    Recorder notify;
    HttpDownloader t;
    t.CreateMessageWindow(notify.hwnd);
    strcpy(SharedHttpSettings.proxyAddress, "shared.proxy");
    strcpy(SharedHttpSettings.proxyPort, "81");
    strcpy(SharedHttpSettings.siteUser, "su");
    strcpy(SharedHttpSettings.sitePassword, "sp");
    strcpy(SharedHttpSettings.proxyUser, "pu");
    strcpy(SharedHttpSettings.proxyPassword, "pp");
    ConfirmSettings("Site:8080/builds/");
    // The same host (in any case) and port: the confirmed site credentials.
    t.SetCredentials("user", Scrambled("password").c_str());
    t.SetProxyCredentials("puser", Scrambled("ppassword").c_str());
    t.Open("http://site:8080/other", "own.proxy", "82");
    EXPECT_STREQ("shared.proxy", t.state->settings.proxyAddress);
    EXPECT_STREQ("81", t.state->settings.proxyPort);
    EXPECT_STREQ("su", t.state->settings.siteUser);
    EXPECT_STREQ("sp", t.state->settings.sitePassword);
    EXPECT_STREQ("pu", t.state->settings.proxyUser);
    EXPECT_STREQ("pp", t.state->settings.proxyPassword);
    // Another port, another host: the component's own; the proxy stays shared.
    for (const char* other : {"site:8081/other", "site/other", "elsewhere:8080/builds", "127.0.0.2:8080/x"}) {
        t.SetCredentials("user", Scrambled("password").c_str());
        t.SetProxyCredentials("puser", Scrambled("ppassword").c_str());
        t.Open(other, "own.proxy", "82");
        EXPECT_STREQ("user", t.state->settings.siteUser) << other;
        EXPECT_STREQ("password", t.state->settings.sitePassword) << other;
        EXPECT_STREQ("shared.proxy", t.state->settings.proxyAddress) << other;
        EXPECT_STREQ("pu", t.state->settings.proxyUser) << other;
    }
    // An empty password text keeps the earlier password for the same site
    // only; the confirmed one never moves to another site.
    t.SetCredentials("user", "");
    t.Open("127.0.0.2:8080/y", "", "");
    EXPECT_STREQ("password", t.state->settings.sitePassword);
    t.SetCredentials("", "");
    t.Open("site:8080/", "", "");
    EXPECT_STREQ("sp", t.state->settings.sitePassword);
    t.SetCredentials("user", "");
    t.Open("other:8080/", "", "");
    EXPECT_STREQ("user", t.state->settings.siteUser);
    EXPECT_STREQ("", t.state->settings.sitePassword);
    ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl1) == 8; }));
}

TEST_F(Transport, PasswordsAreDescrambledAndTerminated) {
    HttpDownloader t;
    HttpSettings& own = t.state->settings;
    t.SetCredentials("alice", Scrambled("s3cret").c_str());
    EXPECT_STREQ("alice", own.siteUser);
    EXPECT_STREQ("s3cret", own.sitePassword);
    // A shorter password after a longer one leaves no tail behind.
    t.SetCredentials("alice", Scrambled("ab", 5).c_str());
    EXPECT_STREQ("ab", own.sitePassword);
    // An empty password text keeps the password.
    t.SetCredentials("bob", "");
    EXPECT_STREQ("bob", own.siteUser);
    EXPECT_STREQ("ab", own.sitePassword);
    // Shorter than its header, or not Base64 at all: the password is empty.
    t.SetCredentials("bob", "AAA");
    EXPECT_STREQ("", own.sitePassword);
    t.SetProxyCredentials("proxy-user", Scrambled("pw").c_str());
    EXPECT_STREQ("proxy-user", own.proxyUser);
    EXPECT_STREQ("pw", own.proxyPassword);
    t.SetProxyCredentials("proxy-user", "A");
    EXPECT_STREQ("", own.proxyPassword);
    // The longest password that fits the field with its terminator.
    std::string longest(255, 'p');
    t.SetCredentials("u", Scrambled(longest).c_str());
    EXPECT_EQ(longest, own.sitePassword);
    t.SetCredentials("u", Scrambled(longest + "q").c_str());
    EXPECT_STREQ("", own.sitePassword);
}

TEST_F(Transport, RequestsSetAndClearTheFlags) {
    HttpDownloader t;
    t.Interrupt(1);
    EXPECT_EQ(1, t.state->pauseRequested);
    EXPECT_EQ(0, t.state->stopRequested);
    t.Interrupt(0);
    EXPECT_EQ(1, t.state->stopRequested);
    t.ClearInterrupt();
    EXPECT_EQ(0, t.state->pauseRequested);
    EXPECT_EQ(0, t.state->stopRequested);
    EXPECT_EQ(0, t.Close());
}

TEST_F(Transport, BlockOutlivesTheTransportWhileHeld) {
    HttpDownloader* t = new HttpDownloader;
    HttpTransferState* state = t->state;
    HoldTransferState(state);
    delete t;
    // The holder finds the stop and the abandonment, and no window to report to.
    EXPECT_EQ(1, state->stopRequested);
    EXPECT_EQ(1, state->abandoned);
    EXPECT_EQ(nullptr, state->notifyWindow);
    ReleaseTransferState(state);
}
