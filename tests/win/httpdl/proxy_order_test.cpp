// The arrangements tried in turn to reach a part list: the component's
// proxy, the browser's proxy, a direct connection, then the user, through
// the real proxy servers of the test tier and the HTTP settings dialog,
// which the test answers like a user.
#include <cstring>

#include "fetch_support.h"
#include "http/codec.h"
#include "../../tier_servers.h"

namespace {
const int kPart = 16 * 1024;

std::string Scrambled(const std::string& plain) {
    char out[600];
    int n = scramble(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()), 200, 5,
                     9, out, sizeof out);
    return std::string(out, n > 0 ? n : 0);
}

std::string ProxyPort(bool withAuth) { return Env(withAuth ? "CV_PROXY_AUTH_PORT" : "CV_PROXY_PORT"); }

// What the test saw in one settings dialog and how it answered.
struct DialogAnswer {
    enum How { Ok, Cancel, Escape } how;
    std::string siteUser, sitePassword;  // typed before OK, when not empty
    // Seen:
    std::string shownAddress, shownSiteUser, shownSitePassword, shownProxy, shownPort;
};

std::string ItemText(HWND dialog, int id) {
    char text[300] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Waits for the settings dialog, reads it, answers it, and waits until it
// has gone. The dialog runs on the worker's thread.
bool AnswerDialog(DialogAnswer* answer) {
    HWND dialog = nullptr;
    // Visible only once its initialisation has filled the controls.
    if (!PumpUntil([&] {
            dialog = FindWindowA(nullptr, "HTTP Settings");
            return dialog && IsWindowVisible(dialog);
        }, 60000))
        return false;
    answer->shownAddress = ItemText(dialog, 1010);
    answer->shownSiteUser = ItemText(dialog, 1012);
    answer->shownSitePassword = ItemText(dialog, 1013);
    answer->shownProxy = ItemText(dialog, 1005);
    answer->shownPort = ItemText(dialog, 1008);
    switch (answer->how) {
    case DialogAnswer::Ok:
        SetDlgItemTextA(dialog, 1012, answer->siteUser.c_str());
        SetDlgItemTextA(dialog, 1013, answer->sitePassword.c_str());
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        break;
    case DialogAnswer::Cancel:
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 1009)));
        break;
    case DialogAnswer::Escape:
        // The key as the dialog's message loop sees it.
        SetDlgItemTextA(dialog, 1012, "typed-but-escaped");
        PostMessageA(GetDlgItem(dialog, 1012), WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    }
    return PumpUntil([&] { return !IsWindow(dialog); }, 30000);
}

class ProxyOrder : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        CV_REQUIRE_TIER(!ProxyPort(false).empty() && !ProxyPort(true).empty(), "both proxies of the test tier");
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        data = PatternBytes(3 * kPart + 5, 21);
        ASSERT_TRUE(Publish(std::string("proxy-") + info->name(), data, kPart, &layout));
        server = new ScriptedServer(WwwRoot());
        ASSERT_TRUE(server->Start());
        site = "http://127.0.0.1:" + std::to_string(server->Port());
    }
    void TearDown() override {
        FetchFixture::TearDown();
        delete server;
    }
    std::string ListUrl() const { return "/" + layout.name + "/pkginfo.txt"; }
    std::string PartUrl(int n) const {
        char name[32];
        snprintf(name, sizeof name, "/file%03d.bin", n);
        return "/" + layout.name + name;
    }
    // A component whose own proxy is the one with credentials, given wrong
    // ones: the first attempt fails at the proxy.
    void OpenWithFailingProxy(const std::string& user = "", const std::string& password = "") {
        transport->SetCredentials(user.c_str(), password.c_str());
        transport->SetProxyCredentials("nobody", Scrambled("wrong").c_str());
        ASSERT_EQ(1, transport->Open(site.c_str(), "127.0.0.1", ProxyPort(true).c_str()));
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) == 1; }));
    }

    std::string data;
    Layout layout;
    ScriptedServer* server = nullptr;
    std::string site;
};
}  // namespace

TEST_F(ProxyOrder, ConfiguredProxyWithCredentials) {
    transport->SetCredentials("", "");
    transport->SetProxyCredentials(Env("CV_PROXY_USER").c_str(), Scrambled(Env("CV_PROXY_PASSWORD")).c_str());
    transport->Open(site.c_str(), "127.0.0.1", ProxyPort(true).c_str());
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) == 1; }));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(1, server->Requests(ListUrl()));
    EXPECT_EQ(1, settingsConfirmed);
    EXPECT_STREQ("127.0.0.1", SharedHttpSettings.proxyAddress);
    EXPECT_EQ(ProxyPort(true), SharedHttpSettings.proxyPort);
    EXPECT_EQ(Env("CV_PROXY_PASSWORD"), SharedHttpSettings.proxyPassword);
}

TEST_F(ProxyOrder, ConfirmedSiteCredentialsServeOnlyTheirOwnSite) {
    auto basic = [](const std::string& userColonPassword) {
        char encoded[200];
        int n = IAD_Base64::encode(reinterpret_cast<const unsigned char*>(userColonPassword.data()),
                                   static_cast<int>(userColonPassword.size()), encoded, sizeof encoded, 0);
        return "Authorization: Basic " + std::string(encoded, n > 0 ? n : 0) + "\r\n";
    };
    auto openAs = [&](const std::string& where, const char* user, const std::string& password, const char* proxy,
                      const std::string& port) {
        int before = recorder.Count(msgDl1);
        transport->SetCredentials(user, password.c_str());
        transport->SetProxyCredentials("", "");
        ASSERT_EQ(1, transport->Open(where.c_str(), proxy, port.c_str()));
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) > before; }));
    };
    // The first component confirms its own credentials, through tinyproxy.
    server->RequireAuthorization("a-user:a-pass");
    openAs(site, "a-user", Scrambled("a-pass"), "127.0.0.1", ProxyPort(false));
    ASSERT_EQ(0, Fetch(layout.name));
    ASSERT_EQ(1, settingsConfirmed);
    // A component of the same site without credentials of its own gets them.
    openAs(site, "", "", "", "");
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_STREQ("a-user", transport->state->settings.siteUser);

    // A component on another site (another port of the same address) uses
    // its own; the confirmed proxy stays, and its own proxy is not taken.
    ScriptedServer other(WwwRoot());
    ASSERT_TRUE(other.Start());
    other.RequireAuthorization("b-user:b-pass");
    std::string otherSite = "http://127.0.0.1:" + std::to_string(other.Port());
    openAs(otherSite, "b-user", Scrambled("b-pass"), "no-such-proxy.invalid", "1");
    EXPECT_EQ(ProxyPort(false), transport->state->settings.proxyPort);
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(0, other.RequestsCarrying("a-user")) << "credentials of another site";
    EXPECT_EQ(0, other.RequestsCarrying(basic("a-user:a-pass")));
    EXPECT_EQ(other.TotalRequests(), other.RequestsCarrying(basic("b-user:b-pass")));
    // A user without a password on a third site keeps no password of another.
    openAs("http://127.0.0.2:" + std::to_string(other.Port()), "c-user", "", "", "");
    EXPECT_STREQ("c-user", transport->state->settings.siteUser);
    EXPECT_STREQ("", transport->state->settings.sitePassword);
    EXPECT_EQ(0, server->RequestsCarrying(basic("b-user:b-pass")));
}

TEST_F(ProxyOrder, FailingConfiguredProxyThenTheBrowsersProxy) {
    SetSystemProxy("127.0.0.1:" + ProxyPort(false));
    OpenWithFailingProxy();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // Only the browser's proxy reached the server.
    EXPECT_EQ(1, server->Requests(ListUrl()));
    EXPECT_STREQ("127.0.0.1", SharedHttpSettings.proxyAddress);
    EXPECT_EQ(ProxyPort(false), SharedHttpSettings.proxyPort);
    EXPECT_STREQ("", SharedHttpSettings.proxyUser);
    EXPECT_STREQ("", SharedHttpSettings.proxyPassword);
    // The transport keeps its own proxy and credentials for a later round.
    EXPECT_EQ(ProxyPort(true), transport->state->settings.proxyPort);
    EXPECT_STREQ("nobody", transport->state->settings.proxyUser);
    EXPECT_STREQ("wrong", transport->state->settings.proxyPassword);

    // A later component takes the confirmed settings.
    HttpDownloader later;
    later.Open("elsewhere", "other.proxy", "1");
    EXPECT_EQ(ProxyPort(false), later.state->settings.proxyPort);
}

TEST_F(ProxyOrder, DirectAfterBothProxiesFailKeepsTheSiteCredentials) {
    // The browser's proxy wants credentials that a browser proxy never gets.
    SetSystemProxy("127.0.0.1:" + ProxyPort(true));
    server->RequireAuthorization("site-user:site-pass");
    OpenWithFailingProxy("site-user", Scrambled("site-pass"));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_STREQ("", SharedHttpSettings.proxyAddress);
    EXPECT_STREQ("site-user", SharedHttpSettings.siteUser);
    // The parts were fetched with the part list's credentials.
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ(1, server->Requests(ListUrl()));
}

TEST_F(ProxyOrder, UserIsAskedUntilTheSettingsWork) {
    server->RequireAuthorization("good:creds");
    transport->SetCredentials("own", Scrambled("own-pass").c_str());
    transport->SetProxyCredentials("", "");
    transport->Open(site.c_str(), "", "");
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) == 1; }));
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));

    DialogAnswer first{DialogAnswer::Ok, "good", "wrong"};
    ASSERT_TRUE(AnswerDialog(&first));
    EXPECT_EQ("127.0.0.1:" + std::to_string(server->Port()) + "/" + remote, first.shownAddress);
    EXPECT_EQ("own", first.shownSiteUser);
    EXPECT_EQ("own-pass", first.shownSitePassword);
    EXPECT_EQ("", first.shownProxy);

    // Each attempt shows the transport's own settings, not the last answer.
    DialogAnswer second{DialogAnswer::Escape};
    ASSERT_TRUE(AnswerDialog(&second));
    EXPECT_EQ("own", second.shownSiteUser);
    EXPECT_EQ("own-pass", second.shownSitePassword);

    DialogAnswer third{DialogAnswer::Ok, "good", "creds"};
    ASSERT_TRUE(AnswerDialog(&third));
    EXPECT_EQ("own", third.shownSiteUser);

    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(0u, recorder.Last(msgDl4)->wParam);
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // Configured, direct, and three answers; no browser proxy is set.
    EXPECT_EQ(5, server->Requests(ListUrl()));
    EXPECT_STREQ("good", SharedHttpSettings.siteUser);
    EXPECT_STREQ("creds", SharedHttpSettings.sitePassword);
}

TEST_F(ProxyOrder, CancelInTheSettingsDialogFailsTheFetch) {
    server->RequireAuthorization("good:creds");
    Open(site);
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    DialogAnswer cancel{DialogAnswer::Cancel};
    ASSERT_TRUE(AnswerDialog(&cancel));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ("dl1 dl4", recorder.Names());
    EXPECT_EQ(4u, recorder.Last(msgDl4)->wParam);
    EXPECT_EQ(0, settingsConfirmed);
}

TEST_F(ProxyOrder, TransportGoingAwayCancelsItsSettingsDialog) {
    server->RequireAuthorization("good:creds");
    Open(site);
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        dialog = FindWindowA(nullptr, "HTTP Settings");
        return dialog && IsWindowVisible(dialog);
    }));
    // Suspend while the user is being asked: the dialog goes with the
    // session, and the worker ends without a report, so that a resumed
    // session's worker does not wait behind a question nobody will answer.
    transport->Interrupt(0);
    delete transport;
    transport = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(dialog); }, 10000));
    ASSERT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }, 10000));
    EXPECT_EQ("dl1", recorder.Names());
}
