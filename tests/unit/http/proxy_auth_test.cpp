// What a proxy's 407 answer offers and the few headers of the login
// handshake: Proxy-Authenticate in its forms, the preference among schemes,
// Content-Length, keep-alive, and "DOMAIN\user".
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/http_message.h"
#include "http/proxy_auth.h"

namespace {
ProxyChallenge Parse(const std::string& header) {
    ProxyChallenge c;
    std::memset(&c, 0x5a, sizeof c);
    ParseProxyChallenge(header.data(), static_cast<int>(header.size()), &c);
    return c;
}
}  // namespace

TEST(ProxyChallengeParse, SchemesOnSeveralLinesOrOneLineInAnyCase) {
    ProxyChallenge c = Parse("HTTP/1.1 407 X\r\nProxy-Authenticate: Basic realm=\"corp, main\"\r\n"
                             "proxy-authenticate:NTLM\r\nPROXY-AUTHENTICATE:   Negotiate  \r\n\r\n");
    EXPECT_EQ(kSchemeBasic | kSchemeNtlm | kSchemeNegotiate, c.schemes);
    EXPECT_STREQ("", c.ntlmToken);
    EXPECT_STREQ("", c.negotiateToken);
    EXPECT_EQ(0, c.others);

    // One line, commas between challenges; a quoted comma is not one.
    c = Parse("HTTP/1.0 407 X\nProxy-Authenticate: Digest realm=\"a,b\", qop=\"auth\", NTLM, Basic realm=x\n\n");
    EXPECT_EQ(kSchemeNtlm | kSchemeBasic, c.schemes);
    EXPECT_EQ(1, c.others);
}

TEST(ProxyChallengeParse, TokensOfTheWindowsSchemes) {
    ProxyChallenge c = Parse("HTTP/1.1 407 X\r\nProxy-Authenticate: NTLM TlRMTVNTUAACAAAA==\r\n"
                             "Proxy-Authenticate: Negotiate oYG2MIGzoAMKAQE+/=\r\n\r\n");
    EXPECT_STREQ("TlRMTVNTUAACAAAA==", c.ntlmToken);
    EXPECT_STREQ("oYG2MIGzoAMKAQE+/=", c.negotiateToken);
    // Something that is not a token is not taken for one.
    c = Parse("HTTP/1.1 407 X\r\nProxy-Authenticate: NTLM abc def\r\n\r\n");
    EXPECT_EQ(kSchemeNtlm, c.schemes);
    EXPECT_STREQ("", c.ntlmToken);
    // A token too long for its field is dropped and marked, never cut.
    std::string big(5000, 'A');
    c = Parse("HTTP/1.1 407 X\r\nProxy-Authenticate: NTLM " + big + "\r\n\r\n");
    EXPECT_STREQ("", c.ntlmToken);
    EXPECT_EQ(1, c.tokenCut);
}

TEST(ProxyChallengeParse, OnlyTheHeaderBlockAndOnlyTheRightHeaderCount) {
    // The status line, the body and headers with similar names do not count.
    ProxyChallenge c = Parse("HTTP/1.1 407 Proxy-Authenticate: NTLM\r\nX-Proxy-Authenticate: Basic\r\n"
                             "WWW-Authenticate: Negotiate\r\n\r\nProxy-Authenticate: NTLM\r\n");
    EXPECT_EQ(0, c.schemes);
    // The length given is respected.
    std::string h = "HTTP/1.1 407 X\r\nProxy-Authenticate: NTLM QUJD\r\n\r\n";
    ProxyChallenge d;
    ParseProxyChallenge(h.data(), static_cast<int>(h.find("QUJD") + 2), &d);
    EXPECT_STREQ("QU", d.ntlmToken);
}

TEST(ProxySchemes, PreferenceAndNames) {
    int all = kSchemeBasic | kSchemeNtlm | kSchemeNegotiate;
    EXPECT_EQ(kSchemeNegotiate, PickProxyScheme(all, all));
    EXPECT_EQ(kSchemeNtlm, PickProxyScheme(all, kSchemeNtlm | kSchemeBasic));
    EXPECT_EQ(kSchemeBasic, PickProxyScheme(kSchemeBasic | kSchemeNtlm, kSchemeBasic));
    EXPECT_EQ(0, PickProxyScheme(kSchemeNtlm, kSchemeBasic));
    char text[64];
    DescribeProxySchemes(all, text, sizeof text);
    EXPECT_STREQ("Negotiate, NTLM, Basic", text);
    DescribeProxySchemes(0, text, sizeof text);
    EXPECT_STREQ("", text);
    char small[6];
    DescribeProxySchemes(all, small, sizeof small);
    EXPECT_STREQ("Negot", small);
}

TEST(ProxyHeaders, ContentLengthAndKeepAlive) {
    auto length = [](const std::string& h) { return HeaderContentLength(h.data(), static_cast<int>(h.size())); };
    EXPECT_EQ(26, length("HTTP/1.1 407 X\r\ncontent-length:  26 \r\n\r\n"));
    EXPECT_EQ(0, length("HTTP/1.1 407 X\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_EQ(-1, length("HTTP/1.1 407 X\r\nContent-Length: 2x\r\n\r\n"));
    EXPECT_EQ(-1, length("HTTP/1.1 407 X\r\nContent-Length: 99999999999999999999\r\n\r\n"));
    EXPECT_EQ(-1, length("HTTP/1.1 407 X\r\n\r\nContent-Length: 5\r\n"));

    auto keeps = [](const std::string& h) { return HeaderKeepsConnection(h.data(), static_cast<int>(h.size())); };
    EXPECT_EQ(1, keeps("HTTP/1.1 407 X\r\n\r\n"));
    EXPECT_EQ(0, keeps("HTTP/1.1 407 X\r\nConnection: close\r\n\r\n"));
    EXPECT_EQ(0, keeps("HTTP/1.0 407 X\r\n\r\n"));
    EXPECT_EQ(1, keeps("HTTP/1.0 407 X\r\nProxy-Connection: Keep-Alive\r\n\r\n"));
    EXPECT_EQ(0, keeps("HTTP/1.0 407 X\r\nProxy-Connection: keep-alive\r\nConnection: close\r\n\r\n"));
}

TEST(ProxyHeaders, DomainAndUser) {
    char domain[8], user[8];
    SplitDomainUser("CORP\\alice", domain, sizeof domain, user, sizeof user);
    EXPECT_STREQ("CORP", domain);
    EXPECT_STREQ("alice", user);
    SplitDomainUser("bob", domain, sizeof domain, user, sizeof user);
    EXPECT_STREQ("", domain);
    EXPECT_STREQ("bob", user);
    SplitDomainUser("A-VERY-LONG-DOMAIN\\someone-long", domain, sizeof domain, user, sizeof user);
    EXPECT_STREQ("A-VERY-", domain);
    EXPECT_STREQ("someone", user);
}

TEST(ProxySchemes, BasicOnlyWhenNoWindowsLoginIsOffered) {
    EXPECT_EQ(1, AnswerWithBasic(kSchemeBasic));
    EXPECT_EQ(0, AnswerWithBasic(kSchemeBasic | kSchemeNtlm));
    EXPECT_EQ(0, AnswerWithBasic(kSchemeBasic | kSchemeNegotiate));
    EXPECT_EQ(0, AnswerWithBasic(kSchemeNtlm));
    EXPECT_EQ(0, AnswerWithBasic(0));
}

TEST(ProxySchemes, ProxiesKnownToWantBasic) {
    BasicProxyMemory memory;
    EXPECT_FALSE(memory.Knows("proxy", 8080));
    memory.Remember("Proxy.Corp", 8080);
    EXPECT_TRUE(memory.Knows("proxy.corp", 8080));
    EXPECT_TRUE(memory.Knows("PROXY.CORP", 8080));
    EXPECT_FALSE(memory.Knows("proxy.corp", 3128));
    EXPECT_FALSE(memory.Knows("proxy.cor", 8080));
    EXPECT_FALSE(memory.Knows(nullptr, 8080));
    memory.Forget("proxy.CORP", 8080);
    EXPECT_FALSE(memory.Knows("proxy.corp", 8080));
    // A name too long to keep whole is not kept at all.
    std::string huge(300, 'h');
    memory.Remember(huge.c_str(), 1);
    EXPECT_FALSE(memory.Knows(huge.c_str(), 1));
    EXPECT_FALSE(memory.Knows(huge.substr(0, 255).c_str(), 1));
    // Beyond its room the oldest go first; forgetting makes room again.
    for (int port = 1; port <= 10; ++port) memory.Remember("p", port);
    EXPECT_FALSE(memory.Knows("p", 1));
    EXPECT_FALSE(memory.Knows("p", 2));
    for (int port = 3; port <= 10; ++port) EXPECT_TRUE(memory.Knows("p", port)) << port;
    memory.Forget("p", 5);
    memory.Remember("q", 1);
    EXPECT_TRUE(memory.Knows("q", 1));
    EXPECT_TRUE(memory.Knows("p", 10));
}
