// The browser step of the proxy order with proxy auto-configuration: a
// script named in the browser's settings (or by the setup description)
// decides the proxy, through the system's lookup, served by the test tier's
// own servers on loopback. The component's own proxy fails first, so that
// the order reaches the browser step.
#include <cstring>

#include "fetch_support.h"
#include "http/codec.h"

namespace {
const int kPart = 8 * 1024;

std::string Scrambled(const std::string& plain) {
    char out[600];
    int n = scramble(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()), 200, 5,
                     9, out, sizeof out);
    return std::string(out, n > 0 ? n : 0);
}

std::string TinyproxyLog() { return WinPath(Env("CV_SRV_DIR") + "/tinyproxy/open.log"); }

class Pac : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        ASSERT_FALSE(Env("CV_PROXY_PORT").empty()) << "the test tier's proxies are not configured";
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name = std::string("pac-") + info->name();
        data = PatternBytes(2 * kPart + 3, 33);
        ASSERT_TRUE(Publish(name, data, kPart, &layout));
        server = new ScriptedServer(WwwRoot());
        ASSERT_TRUE(server->Start());
        site = "127.0.0.1:" + std::to_string(server->Port());
    }
    void TearDown() override {
        FetchFixture::TearDown();
        if (server) server->Release();
        delete server;
    }
    // Publishes a script under the web root and gives its address on the
    // scripted server.
    std::string Script(const std::string& body, const std::string& suffix = "") {
        std::string file = name + suffix + ".pac";
        WriteFileText(WwwRoot() + "\\" + file, body);
        return "http://" + site + "/" + file;
    }
    static std::string Answering(const std::string& answer) {
        return "function FindProxyForURL(url, host) {\n"
               "  if (shExpMatch(url, \"*pkginfo.txt\") || isPlainHostName(host) || host == \"127.0.0.1\")\n"
               "    return \"" + answer + "\";\n"
               "  return \"DIRECT\";\n}\n";
    }
    // The component's own proxy is the one with credentials, given wrong
    // ones, so that the configured attempt fails.
    void OpenWithFailingProxy() {
        transport->SetCredentials("", "");
        transport->SetProxyCredentials("nobody", Scrambled("wrong").c_str());
        ASSERT_EQ(1, transport->Open(site.c_str(), "127.0.0.1", Env("CV_PROXY_AUTH_PORT").c_str()));
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) == 1; }));
    }
    bool ProxyLogMentions(const std::string& text) { return ReadFileBytes(TinyproxyLog()).find(text) != std::string::npos; }
    std::string ListUrl() const { return "/" + name + "/pkginfo.txt"; }

    std::string name, data, site;
    Layout layout;
    ScriptedServer* server = nullptr;
};
}  // namespace

TEST_F(Pac, ScriptFromTheBrowserSendsTheFetchThroughItsProxy) {
    std::string through = "PROXY 127.0.0.1:" + Env("CV_PROXY_PORT");
    SetAutoConfig(Script(Answering(through + "; DIRECT")), false);
    OpenWithFailingProxy();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_TRUE(ProxyLogMentions(ListUrl())) << "tinyproxy did not carry the part list";
    EXPECT_STREQ("127.0.0.1", SharedHttpSettings.proxyAddress);
    EXPECT_EQ(Env("CV_PROXY_PORT"), SharedHttpSettings.proxyPort);
    // Confirmed for this site only: its credentials go nowhere else.
    EXPECT_TRUE(SameHttpSite(SharedSettingsSite, site.c_str())) << SharedSettingsSite;
    // The found proxy is taken without credentials; the component keeps its own.
    EXPECT_STREQ("", SharedHttpSettings.proxyUser);
    EXPECT_STREQ("nobody", transport->state->settings.proxyUser);
    EXPECT_EQ(1, server->Requests(ListUrl()));
}

TEST_F(Pac, SetupDescriptionsScriptComesBeforeTheBrowsers) {
    SetAutoConfig(Script(Answering("DIRECT"), "-browser"), false);
    transport->SetProxyScript(Script(Answering("PROXY 127.0.0.1:" + Env("CV_PROXY_PORT")), "-own").c_str());
    OpenWithFailingProxy();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_TRUE(ProxyLogMentions(ListUrl()));
    EXPECT_EQ(0, server->Requests("/" + name + "-browser.pac"));
}

TEST_F(Pac, DirectAnswerFetchesWithoutProxyAndOverridesTheFixedOne) {
    SetAutoConfig(Script(Answering("DIRECT")), false);
    SetSystemProxy("127.0.0.1:" + Env("CV_PROXY_PORT"));
    OpenWithFailingProxy();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_FALSE(ProxyLogMentions(ListUrl())) << "the fixed browser proxy was used despite the script";
    EXPECT_STREQ("", SharedHttpSettings.proxyAddress);
    EXPECT_EQ(1, server->Requests("/" + name + ".pac"));
}

TEST_F(Pac, BrokenOrMissingScriptsFallThroughToTheDirectAttempt) {
    // A syntax error, then a script whose server is gone: both mean "no
    // proxy found", and the order goes on without waiting.
    const std::string scripts[] = {Script("function FindProxyForURL(url, host) { return ; ;; {{ ", "-broken"),
                                   "http://127.0.0.1:9/nothing.pac"};
    for (const std::string& script : scripts) {
        SCOPED_TRACE(script);
        SetAutoConfig(script, false);
        settingsConfirmed = 0;
        recorder.reports.clear();
        OpenWithFailingProxy();
        DWORD start = GetTickCount();
        ASSERT_EQ(0, Fetch(layout.name));
        EXPECT_LT(GetTickCount() - start, 8000u);
        EXPECT_EQ(data, ReadFileBytes(Target()));
        EXPECT_STREQ("", SharedHttpSettings.proxyAddress);
    }
}

TEST_F(Pac, ScriptServerThatNeverAnswersIsGivenUpAfterAboutTenSeconds) {
    std::string script = Script(Answering("PROXY 127.0.0.1:9"), "-silent");
    server->Script("/" + name + "-silent.pac", {ScriptedServer::Hold});
    SetAutoConfig(script, false);
    OpenWithFailingProxy();
    DWORD start = GetTickCount();
    ASSERT_EQ(0, Fetch(layout.name));
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, 9000u);
    EXPECT_LT(spent, 30000u);
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(1, server->HeldNow());
}

TEST_F(Pac, AutomaticDetectionThatFindsNothingFallsThroughQuickly) {
    SetAutoConfig("", true);
    OpenWithFailingProxy();
    DWORD start = GetTickCount();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_LT(GetTickCount() - start, 8000u);
    EXPECT_EQ(data, ReadFileBytes(Target()));
}

TEST_F(Pac, ScriptIsFetchedWithoutTheUsersWindowsLogin) {
    // The script's server asks for a Windows login: it gets none, the
    // script counts as not found, and the order goes on.
    std::string script = Script(Answering("PROXY 127.0.0.1:" + Env("CV_PROXY_PORT")), "-login");
    server->RequireWindowsLogin("/" + name + "-login.pac");
    SetAutoConfig(script, false);
    OpenWithFailingProxy();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_LE(1, server->Requests("/" + name + "-login.pac"));
    // (The site's own requests carry its empty Basic credentials.)
    EXPECT_EQ(0, server->RequestsCarrying("Authorization: Negotiate")) << "a login went to the script's server";
    EXPECT_EQ(0, server->RequestsCarrying("Authorization: NTLM")) << "a login went to the script's server";
    EXPECT_FALSE(ProxyLogMentions(ListUrl()));
}
