// Proxies that ask for a login: the test tier's own proxy checks a real
// NTLMv2 answer against a known password (the platform's NTLM runs here
// through Samba's ntlm_auth), or Basic on a listener of its own. The site's
// host name reaches the site only through that proxy, so a direct attempt
// cannot get round it; an https site (the TLS nginx, whose certificate also
// carries such a name) is reached through the proxy's CONNECT tunnel after
// the same login.
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fetch_support.h"
#include "http/codec.h"
#include "http/http_client.h"
#include "http/sspi_login_win.h"

namespace {
const int kPart = 8 * 1024;

std::string Scrambled(const std::string& plain) {
    char out[600];
    int n = scramble(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()), 200, 5,
                     9, out, sizeof out);
    return std::string(out, n > 0 ? n : 0);
}

std::string WholeLog() { return ReadFileBytes(WinPath(Env("CV_SRV_DIR") + "/ntlm_proxy/log")); }

// Where the current test's part of the proxy's log begins.
size_t logStart = 0;

std::string ProxyLog() { return WholeLog().substr(logStart); }

// The lines of the proxy's log since the test began that mention `text`.
std::vector<std::string> LogLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string log = ProxyLog();
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.find(text) != std::string::npos) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Requests for `path` in the TLS nginx's access log.
int TlsLogged(const std::string& path) {
    std::ifstream log(WinPath(Env("CV_SRV_DIR") + "/nginx-tls/access.log"));
    std::string line;
    int n = 0;
    while (std::getline(log, line))
        if (line.find("\"GET " + path + " ") != std::string::npos) ++n;
    return n;
}

std::string ItemText(HWND dialog, int id) {
    char text[300] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class Ntlm : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        ASSERT_FALSE(Env("CV_NTLM_PROXY_PORT").empty()) << "the test tier's NTLM proxy is not configured";
        logStart = WholeLog().size();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name = std::string("ntlm-") + info->name();
        data = PatternBytes(3 * kPart + 11, 47);
        ASSERT_TRUE(Publish(name, data, kPart, &layout));
        server = new ScriptedServer(WwwRoot());
        ASSERT_TRUE(server->Start());
        // Found only by the proxy.
        site = "files.invalid:" + std::to_string(server->Port());
        user = Env("CV_NTLM_DOMAIN") + "\\" + Env("CV_NTLM_USER");
    }
    void TearDown() override {
        FetchFixture::TearDown();
        delete server;
    }
    void OpenThrough(const std::string& port, const std::string& proxyUser, const std::string& password) {
        transport->SetCredentials("", "");
        transport->SetProxyCredentials(proxyUser.c_str(), password.empty() ? "" : Scrambled(password).c_str());
        ASSERT_EQ(1, transport->Open(site.c_str(), "127.0.0.1", port.c_str()));
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) == 1; }));
    }

    std::string name, data, site, user;
    Layout layout;
    ScriptedServer* server = nullptr;
};
}  // namespace

TEST_F(Ntlm, RightUserFetchesThroughTheProxyWithACheckedAnswerOnOneConnection) {
    OpenThrough(Env("CV_NTLM_PROXY_PORT"), user, Env("CV_NTLM_PASSWORD"));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // The part list and every part: a verified NTLMv2 answer, sent on the
    // connection that carried the first token.
    std::vector<std::string> ok = LogLines(" ok scheme=NTLM ");
    int mine = 0;
    for (const std::string& line : ok) {
        if (line.find("/" + name + "/") == std::string::npos) continue;
        ++mine;
        EXPECT_NE(std::string::npos, line.find("user=" + user + " ntlmv2=1 legs=2")) << line;
    }
    EXPECT_EQ(5, mine) << ProxyLog();
    EXPECT_EQ(1, server->Requests("/" + name + "/pkginfo.txt"));
    EXPECT_EQ(1, settingsConfirmed);
    // The first request carried no credentials at all: the Windows password
    // never went out as Basic.
    std::vector<std::string> offers = LogLines(" offer target=http://" + site + "/" + name + "/pkginfo.txt");
    ASSERT_EQ(1u, offers.size()) << ProxyLog();
    EXPECT_NE(std::string::npos, offers[0].find(" auth=none")) << offers[0];
    EXPECT_TRUE(LogLines("scheme=Basic").empty()) << ProxyLog();
}

TEST_F(Ntlm, NegotiateOfferedBesideBasicAndNtlmIsChosenWithRawNtlmTokens) {
    // The proxy offers Basic, NTLM and Negotiate; Negotiate comes first.
    OpenThrough(Env("CV_NEGOTIATE_PROXY_PORT"), user, Env("CV_NTLM_PASSWORD"));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    std::vector<std::string> ok = LogLines("/" + name + "/pkginfo.txt");
    bool negotiated = false;
    for (const std::string& line : ok) negotiated |= line.find(" ok scheme=Negotiate user=" + user) != std::string::npos;
    EXPECT_TRUE(negotiated) << ProxyLog();
    // Basic is offered too, but a proxy that can take a Windows login never
    // gets the password as Basic, not even with the first request.
    EXPECT_TRUE(LogLines("scheme=Basic").empty()) << ProxyLog();
    for (const std::string& line : LogLines(" offer "))
        EXPECT_NE(std::string::npos, line.find(" auth=none")) << line;
}

TEST_F(Ntlm, WrongPasswordFailsCleanlyAndTheDialogSaysWhichLogin) {
    OpenThrough(Env("CV_NTLM_PROXY_PORT"), user, "not-the-password");
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        dialog = FindWindowA(nullptr, "HTTP Settings");
        return dialog && IsWindowVisible(dialog);
    }, 60000));
    std::string said = ItemText(dialog, 1015);
    EXPECT_NE(std::string::npos, said.find("NTLM")) << said;
    // One refused answer, then nothing more: a failed login is not repeated.
    EXPECT_EQ(1u, LogLines("refused scheme=NTLM user=" + user + " why=wrong-answer").size()) << ProxyLog();
    EXPECT_EQ(0, server->Requests("/" + name + "/pkginfo.txt"));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), 0);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(4u, recorder.Last(msgDl4)->wParam);
}

TEST_F(Ntlm, LoggedOnUserFailsCleanlyThenTypedCredentialsGetThrough) {
    // No proxy user: the logged-on user's own login is tried first. Under
    // Wine there is no domain behind it, so it fails, and the user is asked.
    OpenThrough(Env("CV_NTLM_PROXY_PORT"), "", "");
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        dialog = FindWindowA(nullptr, "HTTP Settings");
        return dialog && IsWindowVisible(dialog);
    }, 60000));
    std::string said = ItemText(dialog, 1015);
    EXPECT_NE(std::string::npos, said.find("NTLM")) << said;
    EXPECT_NE(std::string::npos, said.find("Windows logon")) << said;
    SetDlgItemTextA(dialog, 1006, user.c_str());
    SetDlgItemTextA(dialog, 1007, Env("CV_NTLM_PASSWORD").c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(0u, recorder.Last(msgDl4)->wParam);
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(user, SharedHttpSettings.proxyUser);
    EXPECT_FALSE(LogLines(" ok scheme=NTLM user=" + user).empty());
}

TEST_F(Ntlm, HttpsSiteThroughTheTunnelAfterACheckedLogin) {
    ASSERT_FALSE(Env("CV_HTTPS_PORT").empty()) << "the TLS test servers are not configured";
    // The TLS nginx under a name only the proxy resolves.
    std::string target = "secure.invalid:" + Env("CV_HTTPS_PORT");
    site = "https://" + target;
    // The server's log outlives one run.
    std::string list = "/" + name + "/pkginfo.txt";
    int before = TlsLogged(list);
    OpenThrough(Env("CV_NTLM_PROXY_PORT"), user, Env("CV_NTLM_PASSWORD"));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // One tunnel, opened after a verified NTLMv2 answer on the connection
    // of the first token, kept for the part list and every part: the login
    // is not made again for them.
    std::vector<std::string> ok = LogLines(" ok scheme=NTLM ");
    for (const std::string& line : ok)
        EXPECT_NE(std::string::npos, line.find("user=" + user + " ntlmv2=1 legs=2 target=" + target)) << line;
    EXPECT_EQ(1u, ok.size()) << ProxyLog();
    EXPECT_EQ(before + 1, TlsLogged(list));
    EXPECT_EQ(0, server->Requests(list));

    // Four parts at once: each further connection opens a tunnel of its own
    // after a login of its own, and the file comes whole.
    for (int n = 0; n < 4; ++n) ASSERT_TRUE(DeleteFileA(Part(n).c_str()));
    transport->SetConnections(4);
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    ok = LogLines(" ok scheme=NTLM ");
    for (const std::string& line : ok)
        EXPECT_NE(std::string::npos, line.find("user=" + user + " ntlmv2=1 legs=2 target=" + target)) << line;
    EXPECT_EQ(1u + 4u, ok.size()) << ProxyLog();
}

TEST_F(Ntlm, HttpsWithAWrongPasswordFailsCleanlyAndTheDialogSaysWhichLogin) {
    ASSERT_FALSE(Env("CV_HTTPS_PORT").empty()) << "the TLS test servers are not configured";
    site = "https://secure.invalid:" + Env("CV_HTTPS_PORT");
    std::string list = "/" + name + "/pkginfo.txt";
    int before = TlsLogged(list);
    OpenThrough(Env("CV_NTLM_PROXY_PORT"), user, "not-the-password");
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        dialog = FindWindowA(nullptr, "HTTP Settings");
        return dialog && IsWindowVisible(dialog);
    }, 60000));
    std::string said = ItemText(dialog, 1015);
    EXPECT_NE(std::string::npos, said.find("NTLM")) << said;
    // One refused answer, no tunnel, and nothing asked of the site.
    EXPECT_EQ(1u, LogLines("refused scheme=NTLM user=" + user + " why=wrong-answer").size()) << ProxyLog();
    EXPECT_TRUE(LogLines(" ok scheme=").empty()) << ProxyLog();
    EXPECT_EQ(before, TlsLogged(list));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), 0);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(4u, recorder.Last(msgDl4)->wParam);
    EXPECT_FALSE(FileExists(local + "\\pkginfo.txt"));
}

TEST_F(Ntlm, ConfiguredProxyThatTimedOutOnceGetsItsOwnCredentialsInTheNextRound) {
    std::string basicPort = Env("CV_BASIC_PROXY_PORT");
    ASSERT_FALSE(basicPort.empty() || Env("CV_HTTPS_PORT").empty()) << "the Basic proxy or the TLS servers";
    // The component's own proxy wants Basic and holds back its answer to
    // the first CONNECT; the browser names the same proxy, without
    // credentials, and the site has no address without it.
    site = "https://secure.invalid:" + Env("CV_HTTPS_PORT");
    IAD_HTTPClient arm(0);
    ASSERT_EQ(0, arm.set_urls("http://hold.invalid/next-connect", ("127.0.0.1:" + basicPort).c_str()));
    ASSERT_EQ(0, arm.GetFile(nullptr, (local + "\\armed.txt").c_str()));
    SetSystemProxy("127.0.0.1:" + basicPort);
    transport->state->timeouts.ioSeconds = 2;
    transport->SetUnattended(true);
    OpenThrough(basicPort, Env("CV_NTLM_USER"), Env("CV_NTLM_PASSWORD"));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // Held once; the browser's attempt had no credentials to give; the next
    // round's own attempt went with the component's own.
    EXPECT_EQ(1u, LogLines(" held target=secure.invalid:").size()) << ProxyLog();
    // Its tunnel then carried the part list and every part.
    std::vector<std::string> ok = LogLines(" ok scheme=Basic user=" + Env("CV_NTLM_USER"));
    EXPECT_EQ(1u, ok.size()) << ProxyLog();
    // The transport's own settings are still the component's.
    EXPECT_EQ(basicPort, transport->state->settings.proxyPort);
    EXPECT_EQ(Env("CV_NTLM_USER"), transport->state->settings.proxyUser);
    EXPECT_EQ(Env("CV_NTLM_PASSWORD"), transport->state->settings.proxyPassword);
}

TEST(SspiLogin, TokensAreSizedByWhatEachPackageStates) {
    SspiProxyLogin login;
    ASSERT_EQ(kSchemeNegotiate | kSchemeNtlm, login.Schemes());
    int negotiate = login.MaxTokenBytes(kSchemeNegotiate);
    int ntlm = login.MaxTokenBytes(kSchemeNtlm);
    EXPECT_GT(ntlm, 0);
    // Negotiate may carry a Kerberos ticket: never less room than NTLM.
    EXPECT_GE(negotiate, ntlm);
    EXPECT_EQ(0, login.MaxTokenBytes(kSchemeBasic));
    // A first token fits the room the package states, as Base64 text.
    std::vector<char> token(size_t((ntlm + 2) / 3 * 4 + 1));
    ASSERT_LE(0, login.Begin(kSchemeNtlm, "proxy.invalid", "CORP", "someone", "pw", token.data(),
                             static_cast<int>(token.size())));
    EXPECT_GT(std::strlen(token.data()), 0u);
    login.End();
}
