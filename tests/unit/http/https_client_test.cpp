// The portable side of https in the HTTP client: the scheme and its default
// port, the redirect rule, the request inside a tunnel, and the CONNECT
// exchange with a proxy, also when it asks for a Windows login. A peer of the test's own (one thread, one
// connection at a time) plays proxy and server, and a channel that passes
// bytes through unchanged stands in for TLS, so that what goes over the
// wire can be read.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "download/line_file.h"
#include "http/http_client.h"
#include "http/http_url.h"
#include "http/net.h"
#include "http/certificate_rules.h"
#include "http/secure_channel.h"
#include "scripted_login.h"

namespace {

// Bytes as they are, with a failure that can be set per test.
class PlainChannel : public SecureChannel {
public:
    static TlsFailure nextFailure;
    static bool closeNotify;  // the peer's close counts as its close-notify
    static int started;
    static std::string lastHost;
    static std::string lastEarly;

    int Start(TlsLink* l, const char* host, const char* early, int earlyCount) override {
        ++started;
        lastHost = host;
        lastEarly.assign(early, size_t(earlyCount));
        link = l;
        pending.assign(early, size_t(earlyCount));
        why = nextFailure;
        return why == TlsNone ? 0 : -1;
    }
    int Send(const char* bytes, int count) override { return link->SendAll(bytes, count); }
    int Recv(char* buffer, int size) override {
        if (!pending.empty()) {
            int n = int(std::min(pending.size(), size_t(size)));
            std::memcpy(buffer, pending.data(), size_t(n));
            pending.erase(0, size_t(n));
            return n;
        }
        return link->RecvSome(buffer, size);
    }
    void Shutdown() override {}
    TlsFailure failure() const override { return why; }
    bool closed_cleanly() const override { return closeNotify; }

private:
    TlsLink* link = nullptr;
    std::string pending;
    TlsFailure why = TlsNone;
};
TlsFailure PlainChannel::nextFailure = TlsNone;
bool PlainChannel::closeNotify = true;
int PlainChannel::started = 0;
std::string PlainChannel::lastHost;
std::string PlainChannel::lastEarly;

SecureChannel* MakePlain(int) { return new PlainChannel; }
SecureChannel* MakeNone(int) { return nullptr; }

// A loopback listener that answers each connection with a function of what
// it read up to the first blank line(s) it was told to expect.
class Peer {
public:
    // For each connection: `exchange` gets the socket and does the talking.
    explicit Peer(std::function<void(int)> exchange) : exchange(std::move(exchange)) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        ::listen(listener, 8);
        thread = std::thread([this] { Serve(); });
    }
    ~Peer() {
        stop = true;
        thread.join();
        ::close(listener);
    }
    int port = 0;
    std::atomic<int> connections{0};

private:
    void Serve() {
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int s = ::accept(listener, nullptr, nullptr);
            if (s < 0) continue;
            ++connections;
            exchange(s);
            ::close(s);
        }
    }
    std::function<void(int)> exchange;
    int listener = -1;
    std::thread thread;
    std::atomic<bool> stop{false};
};

// Reads up to and including the first blank line (bounded).
std::string ReadHead(int s) {
    std::string got;
    char c;
    while (got.size() < 8192 && got.find("\r\n\r\n") == std::string::npos) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) break;
        if (::recv(s, &c, 1, 0) != 1) break;
        got += c;
    }
    return got;
}

void SendText(int s, const std::string& text) { (void)::send(s, text.data(), text.size(), MSG_NOSIGNAL); }

HttpTimeouts Quick() {
    HttpTimeouts t;
    t.connectMs = 2000;
    t.ioMs = 3000;
    t.retrySleepMs = 10;
    return t;
}

class HttpsClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, NetStartup());
        dir = std::filesystem::temp_directory_path() /
              ("cvhttps-" + std::to_string(::getpid()) + "-" + std::to_string(rand()));
        std::filesystem::create_directories(dir);
        out = (dir / "out.bin").string();
        PlainChannel::nextFailure = TlsNone;
        PlainChannel::closeNotify = true;
        PlainChannel::started = 0;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    int Fetch(const std::string& url, const std::string& proxy, IAD_HTTPClient::ChannelFactory f = MakePlain) {
        client.reset(new IAD_HTTPClient(0, Quick()));
        client->set_channel_factory(f);
        if (client->set_urls(url.c_str(), proxy.c_str()) != 0) return -100;
        return client->GetFile(nullptr, out.c_str());
    }
    std::string Body() {
        FILE* f = std::fopen(out.c_str(), "rb");
        if (!f) return "<no file>";
        std::string s;
        char b[4096];
        size_t n;
        while ((n = std::fread(b, 1, sizeof b, f)) > 0) s.append(b, n);
        std::fclose(f);
        return s;
    }
    std::filesystem::path dir;
    std::string out;
    std::unique_ptr<IAD_HTTPClient> client;
};

}  // namespace

TEST(HttpsUrl, SchemeDefaultPortAndRedirectRule) {
    IAD_URL secure("HTTPS://u:p@example.org/a");
    EXPECT_TRUE(secure.secure);
    EXPECT_EQ(443, secure.port);
    EXPECT_STREQ("example.org", secure.host);
    EXPECT_STREQ("u", secure.user);
    EXPECT_STREQ("/a", secure.path);
    IAD_URL securePort("https://example.org:8443");
    EXPECT_TRUE(securePort.secure);
    EXPECT_EQ(8443, securePort.port);
    IAD_URL plain("http://example.org/a");
    EXPECT_FALSE(plain.secure);
    EXPECT_EQ(80, plain.port);
    IAD_URL bare("example.org/a");
    EXPECT_FALSE(bare.secure);
    // "httpsx://" is no scheme: it stays in the text as it always did.
    IAD_URL odd("httpsx://h/a");
    EXPECT_FALSE(odd.secure);

    EXPECT_TRUE(RedirectAllowed(plain, secure));
    EXPECT_TRUE(RedirectAllowed(secure, securePort));
    EXPECT_TRUE(RedirectAllowed(plain, bare));
    EXPECT_FALSE(RedirectAllowed(secure, plain));
    EXPECT_FALSE(RedirectAllowed(secure, bare));
    EXPECT_FALSE(RedirectAllowed(plain, IAD_URL("ftp://example.org/a")));
}

TEST(HttpsUrl, SiteUrlKeepsTheScheme) {
    char out[200];
    FormatSiteUrl(out, sizeof out, "u", "p", "https://h:8443/dir/", "sub/", "pkginfo.txt");
    EXPECT_STREQ("https://u:p@h:8443/dir/sub/pkginfo.txt", out);
    FormatSiteUrl(out, sizeof out, "", "", "HTTPS://h/", "", "f");
    EXPECT_STREQ("https://:@h/f", out);
    FormatSiteUrl(out, sizeof out, "u", "p", "h/dir/", "", "f");
    EXPECT_STREQ("http://u:p@h/dir/f", out);
    IAD_URL parsed("https://u:p@h:8443/dir/sub/pkginfo.txt");
    EXPECT_TRUE(parsed.secure);
    EXPECT_STREQ("u", parsed.user);
    EXPECT_STREQ("h", parsed.host);
    EXPECT_EQ(8443, parsed.port);
}

TEST(CertificateVerdict, TrustDatesNameThenRevocation) {
    auto judge = [](uint32_t chain, uint32_t policy, uint32_t revocation) {
        CertificateVerdict v = JudgeCertificate(chain, policy, revocation);
        return std::make_pair(int(v.failure), int(v.revocation));
    };
    using P = std::pair<int, int>;
    EXPECT_EQ(P(TlsNone, RevocationChecked), judge(0, 0, 0));
    // The policy's reasons, then any error of the chain.
    EXPECT_EQ(P(TlsExpired, RevocationChecked), judge(kTrustIsNotTimeValid, kPolicyExpired, 0));
    EXPECT_EQ(P(TlsWrongName, RevocationChecked), judge(0, kPolicyNameMismatch, 0));
    EXPECT_EQ(P(TlsNotTrusted, RevocationChecked), judge(0x20, 0x800B0109, 0));
    EXPECT_EQ(P(TlsNotTrusted, RevocationChecked), judge(0x10, 0x800B0110, 0));  // not for servers
    EXPECT_EQ(P(TlsExpired, RevocationChecked), judge(kTrustIsNotTimeValid, 0, 0));
    EXPECT_EQ(P(TlsNotTrusted, RevocationChecked), judge(0x10000, 0, 0));  // a policy that missed a partial chain
    // Revoked anywhere in the chain: refused, whatever else is unknown, also
    // when the first chain or its policy knew it without being asked.
    EXPECT_EQ(P(TlsRevoked, RevocationChecked), judge(kTrustIsRevoked, kPolicyRevoked, 0));
    EXPECT_EQ(P(TlsRevoked, RevocationChecked), judge(kTrustIsRevoked, kPolicyCertRevoked, 0));
    EXPECT_EQ(P(TlsRevoked, RevocationChecked), judge(kTrustIsRevoked, 0, 0));
    EXPECT_EQ(P(TlsRevoked, RevocationChecked), judge(0, 0, kTrustIsRevoked));
    EXPECT_EQ(P(TlsRevoked, RevocationChecked), judge(0, 0, kTrustIsRevoked | kTrustRevocationUnknown));
    // Unknown or out of reach: accepted, and told.
    EXPECT_EQ(P(TlsNone, RevocationUnknown), judge(0, 0, kTrustRevocationUnknown));
    EXPECT_EQ(P(TlsNone, RevocationOffline), judge(0, 0, kTrustOfflineRevocation | kTrustRevocationUnknown));
    EXPECT_EQ(P(TlsNone, RevocationOffline), judge(0, 0, kTrustOfflineRevocation));
    // A certificate refused for another reason is not excused by revocation.
    EXPECT_EQ(P(TlsWrongName, RevocationChecked), judge(0, kPolicyNameMismatch, kTrustRevocationUnknown));
}

TEST(CertificateVerdict, ARevokedCertificateStaysKnownForTheRun) {
    RevokedCertificates revoked;
    const unsigned char a[] = {1, 2, 3}, b[] = {1, 2, 4}, ab[] = {1, 2};
    EXPECT_EQ(nullptr, revoked.Find(a, 3));
    revoked.Remember(a, 3, "site.example");
    ASSERT_NE(nullptr, revoked.Find(a, 3));
    EXPECT_STREQ("site.example", revoked.Find(a, 3));
    EXPECT_EQ(nullptr, revoked.Find(b, 3));
    EXPECT_EQ(nullptr, revoked.Find(ab, 2));
    // Beyond its room the oldest goes first.
    for (unsigned char n = 0; n < 16; ++n) {
        const unsigned char other[] = {9, n};
        revoked.Remember(other, 2, "other");
    }
    EXPECT_EQ(nullptr, revoked.Find(a, 3));
    const unsigned char last[] = {9, 15};
    EXPECT_STREQ("other", revoked.Find(last, 2));
}

TEST(HttpsRequest, InsideATunnelTheRequestIsTheServersOwn) {
    IAD_HTTPClient c(0);
    char request[IAD_HTTPClient::kRequestSize];
    ASSERT_EQ(0, c.set_urls("https://su:sp@example.org/p", "pu:pp@proxy:3128"));
    ASSERT_GT(c.build_request(request, nullptr), 0);
    EXPECT_STREQ("GET /p HTTP/1.0\r\nAuthorization: Basic c3U6c3A=\r\nHost: example.org\r\n"
                 "Accept: image/gif, image/jpeg, image/pjpeg, */*\r\nConnection: keep-alive\r\n\r\n",
                 request);
    ASSERT_EQ(0, c.set_urls("https://example.org:8443", nullptr));
    ASSERT_GT(c.build_request(request, nullptr), 0);
    EXPECT_STREQ("GET / HTTP/1.0\r\nHost: example.org:8443\r\n"
                 "Accept: image/gif, image/jpeg, image/pjpeg, */*\r\nConnection: keep-alive\r\n\r\n",
                 request);
}

TEST_F(HttpsClientTest, TunnelThroughAProxyWithAndWithoutCredentials) {
    std::vector<std::string> heads;
    Peer proxy([&](int s) {
        std::string connect = ReadHead(s);
        heads.push_back(connect);
        if (connect.find("Proxy-Authorization: Basic cHU6cHA=\r\n") == std::string::npos) {
            SendText(s, "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n");
            return;
        }
        SendText(s, "HTTP/1.0 200 Connection established\r\n\r\n");
        heads.push_back(ReadHead(s));
        SendText(s, "HTTP/1.0 200 OK\r\n\r\ntunnelled body");
    });
    std::string proxyText = "127.0.0.1:" + std::to_string(proxy.port);
    // The first CONNECT goes without credentials; the proxy's 407 asking
    // for Basic is answered on a new connection.
    ASSERT_EQ(0, Fetch("https://site.example:8443/dir/f.bin", "pu:pp@" + proxyText));
    EXPECT_EQ("tunnelled body", Body());
    ASSERT_EQ(3u, heads.size());
    EXPECT_EQ("CONNECT site.example:8443 HTTP/1.0\r\nHost: site.example:8443\r\n\r\n", heads[0]);
    EXPECT_EQ("CONNECT site.example:8443 HTTP/1.0\r\nHost: site.example:8443\r\n"
              "Proxy-Authorization: Basic cHU6cHA=\r\n\r\n",
              heads[1]);
    EXPECT_EQ(0u, heads[2].find("GET /dir/f.bin HTTP/1.0\r\n")) << heads[2];
    EXPECT_EQ(std::string::npos, heads[2].find("Proxy-Authorization")) << heads[2];
    EXPECT_EQ(2, proxy.connections.load());
    EXPECT_EQ("site.example", PlainChannel::lastHost);
    EXPECT_EQ(TlsNone, client->tls_failure());

    // Without credentials the proxy refuses: a failed attempt, no channel,
    // no file.
    std::remove(out.c_str());
    heads.clear();
    PlainChannel::started = 0;
    EXPECT_EQ(-1, Fetch("https://site.example/f.bin", proxyText));
    ASSERT_EQ(1u, heads.size());
    EXPECT_EQ("CONNECT site.example:443 HTTP/1.0\r\nHost: site.example:443\r\n\r\n", heads[0]);
    EXPECT_EQ(0, PlainChannel::started);
    EXPECT_EQ("<no file>", Body());
}

TEST_F(HttpsClientTest, BytesAfterTheProxysAnswerGoToTheChannel) {
    Peer proxy([&](int s) {
        ReadHead(s);
        SendText(s, "HTTP/1.0 200 OK\r\n\r\nEARLY");
        ReadHead(s);
        SendText(s, "HTTP/1.0 200 OK\r\n\r\nrest");
    });
    // The plain channel hands the early bytes back first, so they head the
    // response the client reads; a header that no longer parses fails.
    EXPECT_EQ(-1, Fetch("https://h/f", "127.0.0.1:" + std::to_string(proxy.port)));
    EXPECT_EQ("EARLY", PlainChannel::lastEarly);
}

TEST_F(HttpsClientTest, ChannelFailuresAreFailedFetchesWithTheirReason) {
    Peer server([&](int s) { ReadHead(s); });
    std::string url = "https://localhost:" + std::to_string(server.port) + "/f";
    for (TlsFailure why : {TlsNotTrusted, TlsWrongName, TlsExpired, TlsHandshakeFailed}) {
        PlainChannel::nextFailure = why;
        EXPECT_EQ(-1, Fetch(url, ""));
        EXPECT_EQ(why, client->tls_failure());
        EXPECT_STREQ("localhost", client->tls_failure_host());
        EXPECT_EQ("<no file>", Body());
    }
    // No TLS on the system at all.
    EXPECT_EQ(-1, Fetch(url, "", MakeNone));
    EXPECT_EQ(TlsUnavailable, client->tls_failure());
    // A later plain fetch by the same client clears the reason.
    Peer plain([&](int s) {
        ReadHead(s);
        SendText(s, "HTTP/1.0 200 OK\r\n\r\nok");
    });
    ASSERT_EQ(0, client->set_urls(("http://127.0.0.1:" + std::to_string(plain.port) + "/f").c_str(), ""));
    EXPECT_EQ(0, client->GetFile(nullptr, out.c_str()));
    EXPECT_EQ(TlsNone, client->tls_failure());
}

// Over TLS a close without close-notify may be anyone on the path: a body
// is whole only when it met its announced length or the peer ended the
// stream properly.
TEST_F(HttpsClientTest, ABodyEndsAtItsLengthOrAtTheClosingNotice) {
    Peer server([&](int s) {
        std::string head = ReadHead(s);
        SendText(s, head.find("GET /sized ") == 0 ? "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody"
                                                  : "HTTP/1.0 200 OK\r\n\r\nbody");
    });
    std::string site = "https://127.0.0.1:" + std::to_string(server.port);
    PlainChannel::closeNotify = false;
    EXPECT_EQ(-1, Fetch(site + "/unsized", ""));
    EXPECT_NE(std::string::npos, std::string(client->last_failure()).find("without close-notify"))
        << client->last_failure();
    ASSERT_EQ(0, Fetch(site + "/sized", ""));
    EXPECT_EQ("body", Body());
    PlainChannel::closeNotify = true;
    ASSERT_EQ(0, Fetch(site + "/unsized", ""));
    EXPECT_EQ("body", Body());
}

TEST_F(HttpsClientTest, RedirectsUpToHttpsAndNeverDown) {
    std::vector<std::string> secureHeads;
    Peer secureSite([&](int s) {
        std::string head = ReadHead(s);
        secureHeads.push_back(head);
        if (head.find("GET /down ") == 0) {
            SendText(s, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:1/plain\r\n\r\n");
            return;
        }
        SendText(s, "HTTP/1.0 200 OK\r\n\r\nsecure body");
    });
    std::string securePort = std::to_string(secureSite.port);
    Peer plainSite([&](int s) {
        ReadHead(s);
        SendText(s, "HTTP/1.0 301 Moved\r\nLocation: https://127.0.0.1:" + securePort + "/up\r\n\r\n");
    });
    ASSERT_EQ(0, Fetch("http://127.0.0.1:" + std::to_string(plainSite.port) + "/f", ""));
    EXPECT_EQ("secure body", Body());
    EXPECT_EQ(1, PlainChannel::started);
    EXPECT_TRUE(client->current_url()->secure);
    // Only the scheme went up, on the same host: the site's login goes
    // along (to its https port); to another host it would not.
    ASSERT_EQ(0, Fetch("http://su:sp@127.0.0.1:" + std::to_string(plainSite.port) + "/f", ""));
    EXPECT_NE(std::string::npos, secureHeads.back().find("Authorization: Basic c3U6c3A=\r\n")) << secureHeads.back();
    EXPECT_NE(std::string::npos, secureHeads.back().find("Host: 127.0.0.1:" + securePort + "\r\n"));
    Peer elsewhere([&](int s) {
        ReadHead(s);
        SendText(s, "HTTP/1.0 302 Found\r\nLocation: https://localhost:" + securePort + "/up\r\n\r\n");
    });
    ASSERT_EQ(0, Fetch("http://su:sp@127.0.0.1:" + std::to_string(elsewhere.port) + "/f", ""));
    EXPECT_EQ(std::string::npos, secureHeads.back().find("Authorization")) << secureHeads.back();

    std::remove(out.c_str());
    EXPECT_EQ(-1, Fetch("https://127.0.0.1:" + securePort + "/down", ""));
    EXPECT_EQ("<no file>", Body());
    EXPECT_EQ(4, secureSite.connections.load());
}

// ---- A Windows login for the tunnel ------------------------------------------------

namespace {
// A proxy that asks for a Windows login before it opens a tunnel: a CONNECT
// without a token gets a 407 offering `offer`; a first token a challenge on
// the same connection; the next CONNECT there gets what `mode` says: "ok"
// the tunnel (then a plain answer to the request inside), "refuse" a 407
// again, "again" one more challenge (a proxy going round in circles), and
// "nolength" sends the challenge itself without a Content-Length, and
// "silent" never answers the first token (`tokenSeen` is set when it came).
struct LoginProxy {
    std::string offer = "Proxy-Authenticate: NTLM\r\n";
    std::string mode = "ok";
    std::vector<std::string> heads;
    std::atomic<bool> tokenSeen{false};
    std::atomic<bool> released{false};  // "silent": the client closed in time

    void Exchange(int s) {
        const std::string body = "<p>login</p>";
        const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
        std::string head = ReadHead(s);
        heads.push_back(head);
        size_t at = head.find("Proxy-Authorization: ");
        std::string scheme = at == std::string::npos ? "" : head.substr(at + 21, head.find(' ', at + 21) - at - 21);
        if (scheme != "NTLM" && scheme != "Negotiate") {
            SendText(s, "HTTP/1.0 407 Login\r\n" + offer + length + "\r\n" + body);
            return;
        }
        std::string challenge = "Proxy-Authenticate: " + scheme + " Y2hhbGxlbmdl\r\n";
        tokenSeen = true;
        if (mode == "silent") {
            // Until the client lets go, within a bound.
            pollfd p{s, POLLIN, 0};
            char c;
            released = ::poll(&p, 1, 15000) == 1 && ::recv(s, &c, 1, 0) == 0;
            return;
        }
        if (mode == "nolength") {
            SendText(s, "HTTP/1.0 407 Login\r\n" + challenge + "Proxy-Connection: keep-alive\r\n\r\n");
            return;
        }
        SendText(s, "HTTP/1.0 407 Login\r\n" + challenge + length + "Proxy-Connection: keep-alive\r\n\r\n" + body);
        std::string next = ReadHead(s);
        if (next.empty()) return;
        heads.push_back(next);
        if (mode == "ok") {
            SendText(s, "HTTP/1.0 200 Connection established\r\n\r\n");
            std::string inside = ReadHead(s);
            if (!inside.empty()) heads.push_back(inside);
            SendText(s, "HTTP/1.0 200 OK\r\n\r\nvia " + scheme);
        } else if (mode == "again") {
            SendText(s, "HTTP/1.0 407 Login\r\n" + challenge + length + "Proxy-Connection: keep-alive\r\n\r\n" +
                            body);
            // The client must not answer it.
            std::string more = ReadHead(s);
            if (!more.empty()) heads.push_back(more);
        } else {
            SendText(s, "HTTP/1.0 407 Login\r\n" + offer + length + "\r\n" + body);
        }
    }
};

const std::string kConnect = "CONNECT site.example:443 HTTP/1.0\r\nHost: site.example:443\r\n";
}  // namespace

TEST_F(HttpsClientTest, TunnelThroughAProxyAskingForAWindowsLogin) {
    LoginProxy script;
    script.offer = "Proxy-Authenticate: Basic realm=\"x\"\r\nProxy-Authenticate: NTLM\r\n";
    ScriptedLogin login;
    IAD_HTTPClient c(0, Quick());
    c.set_channel_factory(MakePlain);
    c.set_proxy_login(&login);
    int connections = 0;
    {
        Peer proxy([&](int s) { script.Exchange(s); });
        std::string proxyText = "127.0.0.1:" + std::to_string(proxy.port);
        ASSERT_EQ(0, c.set_urls("https://site.example/f.bin", proxyText.c_str()));
        ASSERT_EQ(0, c.GetFile(nullptr, out.c_str()));
        EXPECT_EQ("via NTLM", Body());
        EXPECT_EQ(2, proxy.connections.load());
        // The same proxy again: the login from the first CONNECT on, on one
        // connection.
        ASSERT_EQ(0, c.set_urls("https://site.example/f.bin", proxyText.c_str()));
        ASSERT_EQ(0, c.GetFile(nullptr, out.c_str()));
        EXPECT_EQ(3, proxy.connections.load());
        // A login refused later is a failed fetch at once: no plain CONNECT,
        // no second handshake.
        script.mode = "refuse";
        ASSERT_EQ(0, c.set_urls("https://site.example/f.bin", proxyText.c_str()));
        EXPECT_EQ(-1, c.GetFile(nullptr, out.c_str()));
        connections = proxy.connections.load();
    }
    EXPECT_EQ(4, connections);
    ASSERT_EQ(9u, script.heads.size());
    EXPECT_EQ(kConnect + "\r\n", script.heads[0]);
    // Only the legs before the last ask for the connection to be kept.
    EXPECT_EQ(kConnect + "Proxy-Authorization: NTLM Zmlyc3Q=\r\nProxy-Connection: Keep-Alive\r\n\r\n",
              script.heads[1]);
    EXPECT_EQ(kConnect + "Proxy-Authorization: NTLM bGFzdA==\r\n\r\n", script.heads[2]);
    // Inside the tunnel the request is the site's own, without any proxy
    // credentials.
    EXPECT_EQ("GET /f.bin HTTP/1.0\r\nHost: site.example\r\nAccept: image/gif, image/jpeg, image/pjpeg, */*\r\n"
              "Connection: keep-alive\r\n\r\n",
              script.heads[3]);
    EXPECT_EQ(script.heads[1], script.heads[4]);
    EXPECT_EQ(script.heads[2], script.heads[5]);
    EXPECT_EQ(script.heads[3], script.heads[6]);
    EXPECT_EQ(script.heads[1], script.heads[7]);
    EXPECT_EQ(script.heads[2], script.heads[8]);
    EXPECT_EQ(std::vector<int>({kSchemeNtlm, kSchemeNtlm, kSchemeNtlm}), login.begun);
    EXPECT_EQ(std::vector<std::string>(3, "Y2hhbGxlbmdl"), login.challenges);
    EXPECT_EQ("<logged-on>", login.who);
    EXPECT_EQ(3, login.ended);
    EXPECT_EQ(2, PlainChannel::started);

    // With a proxy user: no Basic ever, although offered, but Negotiate,
    // preferred among the offered schemes, with that user.
    LoginProxy negotiate;
    negotiate.offer = "Proxy-Authenticate: Basic\r\nProxy-Authenticate: NTLM\r\nProxy-Authenticate: Negotiate\r\n";
    ScriptedLogin named;
    IAD_HTTPClient other(0, Quick());
    other.set_channel_factory(MakePlain);
    other.set_proxy_login(&named);
    {
        Peer proxy([&](int s) { negotiate.Exchange(s); });
        std::string proxyText = "CORP\\alice:secret@127.0.0.1:" + std::to_string(proxy.port);
        ASSERT_EQ(0, other.set_urls("https://site.example/f.bin", proxyText.c_str()));
        ASSERT_EQ(0, other.GetFile(nullptr, out.c_str()));
    }
    EXPECT_EQ("via Negotiate", Body());
    EXPECT_EQ("CORP\\alice:secret", named.who);
    ASSERT_EQ(4u, negotiate.heads.size());
    EXPECT_EQ(kConnect + "\r\n", negotiate.heads[0]);
    EXPECT_EQ(kConnect + "Proxy-Authorization: Negotiate bGFzdA==\r\n\r\n", negotiate.heads[2]);
    EXPECT_EQ(std::string::npos, negotiate.heads[3].find("Proxy-"));
    EXPECT_EQ(kSchemeNegotiate, other.proxy_login_scheme());
}

TEST_F(HttpsClientTest, TunnelLoginFailuresEndCleanly) {
    struct Case {
        const char* mode;
        const char* offer;
        int heads;  // the proxy saw this many requests, and no more
        int begun;  // logins begun
    } cases[] = {
        {"refuse", "NTLM", 3, 1},    // a 407 after the last token: a failed login, no loop
        {"again", "NTLM", 3, 1},     // nor is a fresh challenge after it answered
        {"nolength", "NTLM", 2, 1},  // a challenge without a length cannot keep the connection
        {"ok", "Basic", 1, 0},       // nothing but Basic offered: no Windows login
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.mode);
        LoginProxy script;
        script.mode = k.mode;
        script.offer = std::string("Proxy-Authenticate: ") + k.offer + "\r\n";
        ScriptedLogin login;
        PlainChannel::started = 0;
        std::remove(out.c_str());
        IAD_HTTPClient c(0, Quick());
        c.set_channel_factory(MakePlain);
        c.set_proxy_login(&login);
        {
            Peer proxy([&](int s) { script.Exchange(s); });
            ASSERT_EQ(0, c.set_urls("https://site.example/f.bin", ("127.0.0.1:" + std::to_string(proxy.port)).c_str()));
            EXPECT_EQ(-1, c.GetFile(nullptr, out.c_str()));
        }
        EXPECT_EQ(size_t(k.heads), script.heads.size());
        EXPECT_EQ(size_t(k.begun), login.begun.size());
        EXPECT_EQ(k.begun, login.ended);
        EXPECT_EQ(0, c.proxy_login_scheme());
        EXPECT_EQ(0, PlainChannel::started);
        EXPECT_EQ("<no file>", Body());
        EXPECT_EQ(std::string(k.offer) == "Basic" ? kSchemeBasic : kSchemeNtlm, c.proxy_schemes_asked());
    }
    // Without a platform login only the offer is kept, for the settings
    // dialog to name.
    LoginProxy script;
    IAD_HTTPClient c(0, Quick());
    c.set_channel_factory(MakePlain);
    {
        Peer proxy([&](int s) { script.Exchange(s); });
        ASSERT_EQ(0, c.set_urls("https://site.example/f.bin", ("127.0.0.1:" + std::to_string(proxy.port)).c_str()));
        EXPECT_EQ(-1, c.GetFile(nullptr, out.c_str()));
    }
    EXPECT_EQ(1u, script.heads.size());
    EXPECT_EQ(kSchemeNtlm, c.proxy_schemes_asked());
}

TEST_F(HttpsClientTest, AStopDuringTheLoginIsHeardWhileTheProxyThinks) {
    // The proxy never answers the first token; the wait for it is far
    // longer than the test, so only a stop heard during it ends it.
    LoginProxy script;
    script.mode = "silent";
    ScriptedLogin login;
    HttpTimeouts patient = Quick();
    patient.ioMs = 60000;
    IAD_HTTPClient c(0, patient);
    c.set_channel_factory(MakePlain);
    c.set_proxy_login(&login);
    c.set_cancel([](void* seen) { return static_cast<std::atomic<bool>*>(seen)->load(); }, &script.tokenSeen);
    {
        Peer proxy([&](int s) { script.Exchange(s); });
        ASSERT_EQ(0, c.set_urls("https://site.example/f.bin", ("127.0.0.1:" + std::to_string(proxy.port)).c_str()));
        EXPECT_EQ(-1, c.GetFile(nullptr, out.c_str()));
    }
    EXPECT_TRUE(script.tokenSeen);
    EXPECT_TRUE(script.released) << "the client went on waiting after the stop";
    EXPECT_EQ(2u, script.heads.size());
    EXPECT_EQ(1, login.ended);
    EXPECT_EQ("<no file>", Body());
}
