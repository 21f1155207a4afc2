// Text rules of browser proxy discovery and the shared settings record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download/proxy_rules.h"
#include "download/shared_http_settings.h"

namespace {
struct Prefs {
    char address[260] = "unchanged";
    char port[260] = "unchanged";
    int found = 0;
    void Read(const char* line) { ReadPrefsLine(line, address, sizeof address, &found, port, sizeof port); }
};
}  // namespace

TEST(PrefsLines, AddressAndPortLines) {
    Prefs p;
    p.Read("user_pref(\"network.proxy.http\", \"proxy.example\");\n");
    EXPECT_EQ(1, p.found);
    EXPECT_STREQ("proxy.example", p.address);
    p.Read("user_pref(\"network.proxy.http_port\", 3128);\n");
    EXPECT_STREQ("3128", p.port);
}

TEST(PrefsLines, PrefixOtherKeysAndShortLines) {
    Prefs p;
    p.Read("user_pref(\"network.proxy.http\", \"http://host\");\n");
    EXPECT_STREQ("host", p.address);
    // Only the first occurrence counts; other keys change nothing.
    Prefs q;
    q.Read("user_pref(\"network.proxy.ftp\", \"ftp.example\");\n");
    q.Read("user_pref(\"network.proxy.https\", \"x\");\n");
    EXPECT_EQ(0, q.found);
    EXPECT_STREQ("unchanged", q.address);
    EXPECT_STREQ("unchanged", q.port);
    // A line that ends right after the key never reads past its end.
    Prefs r;
    r.Read("network.proxy.http\"");
    EXPECT_EQ(1, r.found);
    EXPECT_STREQ("", r.address);
    r.Read("network.proxy.http_port");
    EXPECT_STREQ("", r.port);
}

TEST(PrefsLines, BuffersAreCutWithATerminator) {
    char address[6] = "";
    char port[3] = "";
    int found = 0;
    ReadPrefsLine("user_pref(\"network.proxy.http\", \"longhostname\");", address, sizeof address, &found,
                  port, sizeof port);
    // Cut to the buffer first, then at its last quote (there is none left).
    EXPECT_STREQ("longh", address);
    ReadPrefsLine("user_pref(\"network.proxy.http_port\", 31280);", address, sizeof address, &found, port,
                  sizeof port);
    EXPECT_STREQ("31", port);
}

TEST(ProxyServerValue, SplitsAtTheLastColon) {
    char address[260];
    char port[260];
    std::strcpy(address, "proxy.example:8080");
    SplitProxyServer(address, port, sizeof port);
    EXPECT_STREQ("proxy.example", address);
    EXPECT_STREQ("8080", port);

    std::strcpy(address, "http://proxy.example:8080");
    SplitProxyServer(address, port, sizeof port);
    EXPECT_STREQ("proxy.example", address);
    EXPECT_STREQ("8080", port);


    // Without a port: all address, no port, and the prefix is not split.
    std::strcpy(address, "http://proxy");
    std::strcpy(port, "old");
    SplitProxyServer(address, port, sizeof port);
    EXPECT_STREQ("proxy", address);
    EXPECT_STREQ("", port);
}

TEST(ProxyServerValue, PerProtocolListTakesTheHttpEntry) {
    char value[260];
    char port[260];
    for (const char* list : {"http=p:8080;https=p:8443", "https=p:8443;http=p:8080", "ftp=f:21; HTTP=p:8080 ;",
                             "socks=s:1080;Http=http://p:8080"}) {
        std::strcpy(value, list);
        ASSERT_TRUE(PickHttpProxyEntry(value)) << list;
        SplitProxyServer(value, port, sizeof port);
        EXPECT_STREQ("p", value) << list;
        EXPECT_STREQ("8080", port) << list;
    }
    // A list without an HTTP proxy gives none, rather than "https=p" or
    // "socks=s" as a host name.
    for (const char* list : {"https=p:8443", "ftp=f:21;socks=s:1080", "https=p:8443;http=", "xhttp=p:1"}) {
        std::strcpy(value, list);
        EXPECT_FALSE(PickHttpProxyEntry(value)) << list;
        EXPECT_STREQ("", value);
    }
    // One proxy for every protocol stays as it is.
    std::strcpy(value, "proxy.example:3128");
    ASSERT_TRUE(PickHttpProxyEntry(value));
    EXPECT_STREQ("proxy.example:3128", value);
}

TEST(PrefsPath, ReplacesTheLastComponent) {
    char out[260];
    ASSERT_TRUE(PrefsFilePath("C:\\Program Files\\Navigator\\Program", "alice", out, sizeof out));
    EXPECT_STREQ("C:\\Program Files\\Navigator\\Users\\alice\\prefs.js", out);
    EXPECT_FALSE(PrefsFilePath("NoBackslash", "alice", out, sizeof out));
    char small[20];
    EXPECT_FALSE(PrefsFilePath("C:\\dir\\x", "alice", small, sizeof small));
}

TEST(StripPrefix, OnlyAtTheStart) {
    char text[40] = "http://a";
    StripHttpPrefix(text);
    EXPECT_STREQ("a", text);
    std::strcpy(text, "x http://a");
    StripHttpPrefix(text);
    EXPECT_STREQ("x http://a", text);
    std::strcpy(text, "HTTP://a");
    StripHttpPrefix(text);
    EXPECT_STREQ("HTTP://a", text);
}

TEST(SharedSettings, CopyAndEmpty) {
    HttpSettings own = {};
    std::strcpy(own.proxyAddress, "p");
    std::strcpy(own.proxyPort, "1");
    std::strcpy(own.proxyUser, "pu");
    std::strcpy(own.proxyPassword, "pp");
    std::strcpy(own.siteUser, "su");
    std::strcpy(own.sitePassword, "sp");
    CopySettings(&own);
    EXPECT_EQ(0, std::memcmp(&own, &SharedHttpSettings, sizeof own));
    CopySettings(nullptr);
    EXPECT_STREQ("", SharedHttpSettings.proxyAddress);
    EXPECT_STREQ("", SharedHttpSettings.sitePassword);
    // A text that fills its field is cut to 259 characters.
    std::memset(own.siteUser, 'u', sizeof own.siteUser);
    CopySettings(&own);
    EXPECT_EQ(259u, std::strlen(SharedHttpSettings.siteUser));
    CopySettings(nullptr);
}

TEST(OwnLogin, SingleLabelsAndTheSystemsIntranetNamesAreIntranet) {
    EXPECT_TRUE(IsIntranetHost("proxy", ""));
    EXPECT_TRUE(IsIntranetHost("PROXY-2", nullptr));
    // Addresses and names with a domain are not single labels.
    EXPECT_FALSE(IsIntranetHost("10.1.2.3", ""));
    EXPECT_FALSE(IsIntranetHost("2130706433", ""));
    EXPECT_FALSE(IsIntranetHost("proxy.example.com", ""));
    EXPECT_FALSE(IsIntranetHost("proxy.", ""));
    EXPECT_FALSE(IsIntranetHost("[::1]", ""));
    EXPECT_FALSE(IsIntranetHost("", "*"));
    EXPECT_FALSE(IsIntranetHost(nullptr, "*"));
    // The bypass list and the intranet zone: names and patterns, any case,
    // blanks around entries.
    const char* names = "<local>; *.corp.example ;10.*;Proxy.Branch.Example;;";
    EXPECT_TRUE(IsIntranetHost("wpad-proxy.corp.example", names));
    EXPECT_TRUE(IsIntranetHost("A.B.CORP.EXAMPLE", names));
    EXPECT_TRUE(IsIntranetHost("10.0.0.8", names));
    EXPECT_TRUE(IsIntranetHost("proxy.branch.example", names));
    EXPECT_FALSE(IsIntranetHost("corp.example", names));
    EXPECT_FALSE(IsIntranetHost("evil.example.corp.example.net", names));
    EXPECT_FALSE(IsIntranetHost("110.0.0.8", names));
    EXPECT_FALSE(IsIntranetHost("proxy.branch.example.net", names));
    EXPECT_FALSE(IsIntranetHost("<local>", names));
    // Stars anywhere, and many of them, stay cheap and right.
    EXPECT_TRUE(IsIntranetHost("p1.x.example", "p*.*.example"));
    EXPECT_FALSE(IsIntranetHost("p1.x.example.org", "p*.*.example"));
    std::string stars(2000, '*');
    EXPECT_FALSE(IsIntranetHost(std::string(3000, 'a').append(".b").c_str(), (stars + "c").c_str()));
}

TEST(OwnLogin, ConfiguredProxiesAlwaysDiscoveredOnlyOnTheIntranet) {
    EXPECT_TRUE(MayOfferOwnLogin(ProxyConfigured, "proxy.example.com", ""));
    EXPECT_TRUE(MayOfferOwnLogin(ProxyDiscovered, "proxy", ""));
    EXPECT_TRUE(MayOfferOwnLogin(ProxyDiscovered, "proxy.corp.example", "*.corp.example"));
    EXPECT_FALSE(MayOfferOwnLogin(ProxyDiscovered, "proxy.example.com", "*.corp.example"));
    EXPECT_FALSE(MayOfferOwnLogin(ProxyDiscovered, "192.0.2.1", ""));
}

// The value of "/proxy" comes from whoever wrote the command line of a
// management tool: only a whole, exact host and port is used.
TEST(RunProxySwitch, DirectHostPortAndWhatIsRefused) {
    char host[64], port[8];
    EXPECT_EQ(RunProxyDirect, ParseRunProxy("direct", host, sizeof host, port, sizeof port));
    EXPECT_EQ(RunProxyDirect, ParseRunProxy("DIRECT", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("", host);
    EXPECT_EQ(RunProxyNamed, ParseRunProxy("proxy.corp.example:8080", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("proxy.corp.example", host);
    EXPECT_STREQ("8080", port);
    EXPECT_EQ(RunProxyNamed, ParseRunProxy("10.0.0.1:03128", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("10.0.0.1", host);
    EXPECT_STREQ("3128", port);
    EXPECT_EQ(RunProxyNamed, ParseRunProxy("[fe80::1]:65535", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("[fe80::1]", host);
    EXPECT_STREQ("65535", port);
    EXPECT_EQ(RunProxyUnset, ParseRunProxy(nullptr, host, sizeof host, port, sizeof port));
    for (const char* bad : {"", "direct2", "proxy", "proxy:", ":8080", "proxy:0", "proxy:65536", "proxy:99999999999",
                            "proxy:-1", "proxy:+80", "proxy:80x", "user:pw@proxy:80", "http://proxy:80",
                            "proxy:80/", "[]:80", "[fe80::1:80", "[fe80::g]:80", "pro xy:80", "proxy%00:80"}) {
        EXPECT_EQ(RunProxyInvalid, ParseRunProxy(bad, host, sizeof host, port, sizeof port)) << bad;
        EXPECT_STREQ("", host) << bad;
        EXPECT_STREQ("", port) << bad;
    }
    // A host that does not fit is refused, never cut to another name.
    char small[6];
    EXPECT_EQ(RunProxyNamed, ParseRunProxy("abcde:1", small, sizeof small, port, sizeof port));
    EXPECT_EQ(RunProxyInvalid, ParseRunProxy("abcdef:1", small, sizeof small, port, sizeof port));
    EXPECT_STREQ("", small);
    char shortPort[3];
    EXPECT_EQ(RunProxyInvalid, ParseRunProxy("abc:443", host, sizeof host, shortPort, sizeof shortPort));
}

// The machine-wide proxy list of the system's HTTP service.
TEST(MachineProxyList, PicksTheHttpEntry) {
    char host[64], port[8];
    ASSERT_TRUE(PickMachineProxy("proxy.corp:8080", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("proxy.corp", host);
    EXPECT_STREQ("8080", port);
    ASSERT_TRUE(PickMachineProxy("proxy.corp", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("80", port);
    ASSERT_TRUE(PickMachineProxy("http://proxy.corp:81", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("proxy.corp", host);
    EXPECT_STREQ("81", port);
    // A named entry for http wins over a plain one, whatever the order.
    ASSERT_TRUE(PickMachineProxy("https=tls:443; any:3128 ;HTTP=web:8000", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("web", host);
    EXPECT_STREQ("8000", port);
    ASSERT_TRUE(PickMachineProxy("  first:1  second:2", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("first", host);
    ASSERT_TRUE(PickMachineProxy("https://tls:443 plain:3128", host, sizeof host, port, sizeof port));
    EXPECT_STREQ("plain", host);
    for (const char* none : {"", " ; ", "https=tls:443", "ftp=f:21;socks=s:1080", "https://tls:443",
                             "http=bad:0", "http=:80", "http=user@host:80", "http://"}) {
        EXPECT_FALSE(PickMachineProxy(none, host, sizeof host, port, sizeof port)) << none;
        EXPECT_STREQ("", host) << none;
        EXPECT_STREQ("", port) << none;
    }
    EXPECT_FALSE(PickMachineProxy(nullptr, host, sizeof host, port, sizeof port));
    char small[4];
    EXPECT_FALSE(PickMachineProxy("longer:80", small, sizeof small, port, sizeof port));
}
