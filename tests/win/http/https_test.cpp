// The HTTP client over https through the system's SChannel under Wine,
// against the TLS nginx of the test tier: whole files byte for byte, each
// kind of bad certificate refused with its reason and no file (a revoked one
// too, its authority's list served by the plain nginx), revocation that
// cannot be checked accepted, redirects
// up to https and never down, the CONNECT tunnel through tinyproxy with and
// without credentials, records split over tiny receives, and a server that
// closes in the middle of a record. The servers are part of the tier: a
// missing one fails these tests.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"
#include "http/http_url.h"
#include "http/net.h"
#include "http/secure_channel.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string WinPath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (auto& c : p)
        if (c == '/') c = '\\';
    return p;
}

bool ReadAll(const std::string& path, std::string* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    std::fclose(f);
    return true;
}

bool WriteAll(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

HttpTimeouts Quick() {
    HttpTimeouts t;
    t.connectMs = 3000;
    t.ioMs = 15000;
    t.retrySleepMs = 10;
    return t;
}

class Https : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, NetStartup());
        www = Env("CV_WWW_DIR");
        port = Env("CV_HTTPS_PORT");
        // The TLS servers belong to the tier: without them this fails.
        ASSERT_FALSE(www.empty() || port.empty()) << "the TLS test servers are not configured";
        ASSERT_FALSE(Env("CV_TLS_DIR").empty());
        char name[64];
        std::snprintf(name, sizeof name, "cvhttps-%lu-%u", GetCurrentProcessId(), unsigned(std::rand()));
        token = name;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        out = std::string(temp) + token + ".out";
        std::remove(out.c_str());
    }
    void TearDown() override {
        std::remove(out.c_str());
        for (const std::string& f : served) std::remove(f.c_str());
    }

    // A file of `size` bytes under the document root; its name.
    std::string Serve(size_t size, unsigned seed) {
        std::mt19937 rng(seed);
        data.assign(size, '\0');
        for (auto& c : data) c = char(rng());
        std::string name = token + "-" + std::to_string(seed) + ".bin";
        std::string path = WinPath(www + "/" + name);
        EXPECT_TRUE(WriteAll(path, data));
        served.push_back(path);
        return name;
    }

    int Fetch(const std::string& url, const std::string& proxy = "", int receiveLimit = 0) {
        client.reset(new IAD_HTTPClient(std::atoi(Env("CV_HTTP_TEST_LOG").c_str()), Quick()));
        client->set_receive_limit(receiveLimit);
        if (client->set_urls(url.c_str(), proxy.c_str()) != 0) return -100;
        return client->GetFile(nullptr, out.c_str());
    }
    std::string Url(const char* portVariable, const std::string& name) {
        return "https://localhost:" + Env(portVariable) + "/" + name;
    }
    bool Arrived() {
        std::string got;
        return ReadAll(out, &got) && got.size() == data.size() && got == data;
    }
    bool NoFile() {
        std::string got;
        return !ReadAll(out, &got);
    }

    std::string www, port, token, out, data;
    std::vector<std::string> served;
    std::unique_ptr<IAD_HTTPClient> client;
};

}  // namespace

TEST_F(Https, WholeFileByteForByteWithAndWithoutTheAuthorityInTheChain) {
    std::string name = Serve(3 * 1024 * 1024 + 4321, 1);
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name)));
    EXPECT_TRUE(Arrived());
    EXPECT_EQ(TlsNone, client->tls_failure());
    // Most servers send no root: a leaf from the trusted authority alone.
    std::remove(out.c_str());
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_LEAF_PORT", name)));
    EXPECT_TRUE(Arrived());
    // An empty file and one of a single record's size.
    name = Serve(0, 2);
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name)));
    EXPECT_TRUE(Arrived());
    name = Serve(16384, 3);
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name)));
    EXPECT_TRUE(Arrived());
}

TEST_F(Https, EachBadCertificateIsRefusedWithItsReasonAndNothingWritten) {
    std::string name = Serve(1000, 4);
    struct Case {
        const char* port;
        TlsFailure why;
    } cases[] = {
        {"CV_HTTPS_EXPIRED_PORT", TlsExpired},
        {"CV_HTTPS_WRONG_NAME_PORT", TlsWrongName},
        {"CV_HTTPS_UNTRUSTED_PORT", TlsNotTrusted},
        // The case a name-and-policy check alone lets through: a leaf whose
        // issuer is nowhere to be found.
        {"CV_HTTPS_UNTRUSTED_LEAF_PORT", TlsNotTrusted},
        // Trusted, but issued for clients: not for a server.
        {"CV_HTTPS_CLIENT_USAGE_PORT", TlsNotTrusted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        ASSERT_FALSE(Env(c.port).empty());
        EXPECT_EQ(-1, Fetch(Url(c.port, name)));
        EXPECT_EQ(c.why, client->tls_failure()) << client->last_failure();
        EXPECT_STREQ("localhost", client->tls_failure_host());
        EXPECT_TRUE(NoFile());
    }
    // The right name through an address the certificate does not carry.
    EXPECT_EQ(-1, Fetch("https://127.0.0.1:" + port + "/" + name));
    EXPECT_EQ(TlsWrongName, client->tls_failure());
    EXPECT_TRUE(NoFile());
}

TEST_F(Https, RevokedCertificateRefusedAndRevocationUnknownAccepted) {
    std::string name = Serve(5000, 9);
    for (const char* p : {"CV_HTTPS_REVOKED_PORT", "CV_HTTPS_CRL_GOOD_PORT", "CV_HTTPS_CRL_OFFLINE_PORT"})
        ASSERT_FALSE(Env(p).empty()) << p;
    // Revoked in its authority's list, which the plain nginx serves at the
    // distribution point the certificate names: refused, and named.
    for (int again = 0; again < 3; ++again) {
        SCOPED_TRACE(again);
        EXPECT_EQ(-1, Fetch(Url("CV_HTTPS_REVOKED_PORT", name)));
        EXPECT_EQ(TlsRevoked, client->tls_failure()) << client->last_failure();
        EXPECT_STREQ("localhost", client->tls_failure_certificate());
        EXPECT_TRUE(NoFile());
    }
    // Another certificate of the same authority, checked against the same list.
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_CRL_GOOD_PORT", name)));
    EXPECT_TRUE(Arrived());
    EXPECT_EQ(RevocationChecked, client->tls_revocation());
    std::remove(out.c_str());
    // A list nobody serves: accepted, its revocation unknown.
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_CRL_OFFLINE_PORT", name)));
    EXPECT_TRUE(Arrived());
    EXPECT_EQ(RevocationOffline, client->tls_revocation());
    std::remove(out.c_str());
    // A certificate that names no list at all: accepted as well.
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name)));
    EXPECT_TRUE(Arrived());
    EXPECT_NE(RevocationChecked, client->tls_revocation());
}

TEST_F(Https, RedirectsFromHttpAreFollowedAndToHttpRefused) {
    std::string name = Serve(200000, 5);
    ASSERT_FALSE(Env("CV_HTTPS_REDIRECT_PORT").empty());
    ASSERT_EQ(0, Fetch("http://localhost:" + Env("CV_HTTPS_REDIRECT_PORT") + "/" + name));
    EXPECT_TRUE(Arrived());
    EXPECT_TRUE(client->current_url()->secure);
    std::remove(out.c_str());
    // The plain server has the file too: only the refusal keeps it out.
    EXPECT_EQ(-1, Fetch(Url("CV_HTTPS_PORT", "to-http/" + name)));
    EXPECT_TRUE(NoFile());
}

TEST_F(Https, ThroughTheProxysTunnelWithAndWithoutCredentials) {
    std::string open = Env("CV_PROXY_PORT"), auth = Env("CV_PROXY_AUTH_PORT");
    ASSERT_FALSE(open.empty() || auth.empty());
    std::string name = Serve(1024 * 1024 + 17, 6);
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name), "127.0.0.1:" + open));
    EXPECT_TRUE(Arrived());
    std::remove(out.c_str());
    std::string creds = Env("CV_PROXY_USER") + ":" + Env("CV_PROXY_PASSWORD") + "@";
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name), creds + "127.0.0.1:" + auth));
    EXPECT_TRUE(Arrived());
    std::remove(out.c_str());
    // 407: a failed attempt, and no TLS was tried.
    EXPECT_EQ(-1, Fetch(Url("CV_HTTPS_PORT", name), "127.0.0.1:" + auth));
    EXPECT_EQ(TlsNone, client->tls_failure());
    EXPECT_TRUE(NoFile());
    // A certificate check is not skipped inside a tunnel.
    EXPECT_EQ(-1, Fetch(Url("CV_HTTPS_EXPIRED_PORT", name), "127.0.0.1:" + open));
    EXPECT_EQ(TlsExpired, client->tls_failure());
}

TEST_F(Https, RecordsSplitOverReceivesOfOneAndOfSevenBytes) {
    std::string name = Serve(3000, 7);
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name), "", 1));
    EXPECT_TRUE(Arrived());
    std::remove(out.c_str());
    name = Serve(60000, 8);
    ASSERT_EQ(0, Fetch(Url("CV_HTTPS_PORT", name), "", 7));
    EXPECT_TRUE(Arrived());
}

namespace {
// Relays one connection to the TLS server and closes both sides in the
// middle of the server's fifth application record.
class CuttingRelay {
public:
    explicit CuttingRelay(int serverPort) : serverPort(serverPort) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        int len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        listen(listener, 1);
        worker = std::thread([this] { Run(); });
    }
    ~CuttingRelay() {
        closesocket(listener);
        worker.join();
    }
    int port = 0;
    bool cut = false;

private:
    void Run() {
        fd_set set;
        timeval wait = {20, 0};
        FD_ZERO(&set);
        FD_SET(listener, &set);
        if (select(0, &set, nullptr, nullptr, &wait) <= 0) return;
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(u_short(serverPort));
        if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) Relay(client, server);
        closesocket(server);
        closesocket(client);
    }
    void Relay(SOCKET client, SOCKET server) {
        std::string pending;  // server bytes not yet passed on
        int applicationRecords = 0;
        char buffer[65536];
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(client, &set);
            FD_SET(server, &set);
            timeval wait = {20, 0};
            if (select(0, &set, nullptr, nullptr, &wait) <= 0) return;
            if (FD_ISSET(client, &set)) {
                int n = recv(client, buffer, sizeof buffer, 0);
                if (n <= 0 || send(server, buffer, n, 0) != n) return;
            }
            if (FD_ISSET(server, &set)) {
                int n = recv(server, buffer, sizeof buffer, 0);
                if (n <= 0) return;
                pending.append(buffer, size_t(n));
                // Pass on whole records; the fifth application record only
                // in half, then close.
                while (pending.size() >= 5) {
                    size_t length = 5 + ((unsigned char)pending[3] << 8 | (unsigned char)pending[4]);
                    if (pending.size() < length) break;
                    if (pending[0] == 23 && ++applicationRecords == 5) {
                        send(client, pending.data(), int(length / 2), 0);
                        cut = true;
                        return;
                    }
                    if (send(client, pending.data(), int(length), 0) != int(length)) return;
                    pending.erase(0, length);
                }
            }
        }
    }
    int serverPort;
    SOCKET listener;
    std::thread worker;
};
}  // namespace

TEST_F(Https, AServerClosingInsideARecordIsAFailedFetch) {
    std::string name = Serve(500000, 9);
    CuttingRelay relay(std::atoi(port.c_str()));
    EXPECT_EQ(-1, Fetch("https://localhost:" + std::to_string(relay.port) + "/" + name));
    EXPECT_TRUE(relay.cut);
}
