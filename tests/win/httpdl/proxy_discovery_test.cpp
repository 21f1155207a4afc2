// Browser proxy discovery against real registry values of the current user
// and preferences files written by the test, and the names the Internet
// settings count as intranet.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "download/proxy_discovery_win.h"
#include "harness.h"

namespace {
const char kNavigator[] = "Software\\Netscape\\Netscape Navigator";
const char kInternet[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

void SetValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}
void SetText(const std::string& path, const char* name, const std::string& text) {
    SetValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
void SetNumber(const std::string& path, const char* name, DWORD type, DWORD number) {
    SetValue(path, name, type, &number, sizeof number);
}
std::string Nav(const char* leaf) { return std::string(kNavigator) + "\\" + leaf; }

class ProxyDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        ClearBrowserProxies();
        dir = TestDirectory("proxy");
    }
    void TearDown() override { ClearBrowserProxies(); }

    // Writes a preferences file for `profile` under an install directory
    // whose last component the lookup replaces.
    void WritePrefs(const char* profile, const std::string& text) {
        std::string users = dir + "\\Users";
        CreateDirectoryA(users.c_str(), nullptr);
        std::string profileDir = users + "\\" + profile;
        CreateDirectoryA(profileDir.c_str(), nullptr);
        WriteFileText(profileDir + "\\prefs.js", text);
        SetText(Nav("Main"), "Install Directory", dir + "\\Program");
    }

    int Discover() {
        strcpy(address, "before");
        strcpy(port, "before");
        return DiscoverBrowserProxy(address, sizeof address, port, sizeof port);
    }

    std::string dir;
    char address[260];
    char port[260];
};

const char kPrefsBoth[] =
    "user_pref(\"browser.startup.page\", 1);\n"
    "user_pref(\"network.proxy.http\", \"nav.proxy\");\n"
    "user_pref(\"network.proxy.http_port\", 3128);\n";
}  // namespace

TEST_F(ProxyDiscovery, NothingConfiguredFindsNothing) { EXPECT_EQ(0, Discover()); }

TEST_F(ProxyDiscovery, InternetSettingsGiveHostAndPort) {
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "ie.proxy:8080");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("ie.proxy", address);
    EXPECT_STREQ("8080", port);

    SetText(kInternet, "ProxyServer", "http://ie.proxy:8080");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("ie.proxy", address);
    EXPECT_STREQ("8080", port);

    // Stored as binary, as older systems do.
    SetNumber(kInternet, "ProxyEnable", REG_BINARY, 1);
    EXPECT_EQ(1, Discover());
}

TEST_F(ProxyDiscovery, InternetSettingsPerProtocolTakeTheHttpEntry) {
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "http=p:8080;https=p:8443");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("p", address);
    EXPECT_STREQ("8080", port);
    SetText(kInternet, "ProxyServer", "ftp=f:21;https=p:8443");
    EXPECT_EQ(0, Discover());
}

TEST_F(ProxyDiscovery, InternetSettingsDisabledOrOfTheWrongType) {
    SetText(kInternet, "ProxyServer", "ie.proxy:8080");
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 0);
    EXPECT_EQ(0, Discover());
    SetText(kInternet, "ProxyEnable", "1");
    EXPECT_EQ(0, Discover());
    // Enabled without a server: nothing.
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kInternet, 0, KEY_SET_VALUE, &key));
    RegDeleteValueA(key, "ProxyServer");
    RegCloseKey(key);
    EXPECT_EQ(0, Discover());
}

TEST_F(ProxyDiscovery, PreferencesFileOfTheDefaultProfile) {
    WritePrefs("default", kPrefsBoth);
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "ie.proxy:8080");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("nav.proxy", address);
    EXPECT_STREQ("3128", port);
}

TEST_F(ProxyDiscovery, PreferencesFileOfTheCurrentProfile) {
    WritePrefs("alice", "user_pref(\"network.proxy.http\", \"http://alice.proxy\");\n");
    SetText(Nav("biff"), "CurrentUser", "alice");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("alice.proxy", address);
    // No port line: the port buffer keeps what it held.
    EXPECT_STREQ("before", port);
}

TEST_F(ProxyDiscovery, ProfileKeyWithoutCurrentUserSkipsThePreferences) {
    WritePrefs("default", kPrefsBoth);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, Nav("biff").c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
    EXPECT_EQ(0, Discover());
}

TEST_F(ProxyDiscovery, PortLineAloneGoesOnToTheRegistry) {
    WritePrefs("default", "user_pref(\"network.proxy.http_port\", 3128);\n");
    EXPECT_EQ(0, Discover());
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "ie.proxy:8080");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("ie.proxy", address);
}

TEST_F(ProxyDiscovery, NavigatorRegistrySettings) {
    std::string info = Nav("Proxy Information");
    BYTE one = 1;
    SetValue(info, "Proxy Type", REG_BINARY, &one, 1);
    SetText(info, "HTTP_Proxy", "http://reg.proxy");
    SetText(info, "HTTP_ProxyPort", "81");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("reg.proxy", address);
    EXPECT_STREQ("81", port);
    // A numeric port becomes its decimal text.
    SetNumber(info, "HTTP_ProxyPort", REG_DWORD, 8081);
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("8081", port);
}

TEST_F(ProxyDiscovery, NavigatorTypeAsNumberIsNotTaken) {
    std::string info = Nav("Proxy Information");
    SetNumber(info, "Proxy Type", REG_DWORD, 1);
    SetText(info, "HTTP_Proxy", "reg.proxy");
    SetText(info, "HTTP_ProxyPort", "81");
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "ie.proxy:8080");
    ASSERT_EQ(1, Discover());
    EXPECT_STREQ("ie.proxy", address);
}

TEST_F(ProxyDiscovery, NavigatorTypeWithoutAddressEndsTheSearch) {
    BYTE one = 1;
    SetValue(Nav("Proxy Information"), "Proxy Type", REG_BINARY, &one, 1);
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "ie.proxy:8080");
    EXPECT_EQ(0, Discover());
}

TEST_F(ProxyDiscovery, FullBuffersKeepATerminator) {
    SetNumber(kInternet, "ProxyEnable", REG_DWORD, 1);
    SetText(kInternet, "ProxyServer", "a-rather-long-proxy-name:8080");
    char small[8];
    char smallPort[8];
    // The value is cut to the buffer before it is split.
    ASSERT_EQ(1, DiscoverBrowserProxy(small, sizeof small, smallPort, sizeof smallPort));
    EXPECT_EQ(7u, strlen(small));
}

TEST_F(ProxyDiscovery, IntranetNamesFromTheBypassListAndTheIntranetZone) {
    std::string domains = std::string(kInternet) + "\\ZoneMap\\Domains";
    SetText(kInternet, "ProxyOverride", "*.corp.example; <local>;10.*");
    SetNumber(domains + "\\branch.example", "*", REG_DWORD, 1);
    SetNumber(domains + "\\site.example\\proxy", "http", REG_DWORD, 1);
    // Other zones are not intranet.
    SetNumber(domains + "\\site.example\\www", "http", REG_DWORD, 2);
    SetNumber(domains + "\\trusted.example", "*", REG_DWORD, 2);
    char names[2048];
    IntranetNames(names, sizeof names);
    std::string got = names;
    EXPECT_EQ(0u, got.find("*.corp.example; <local>;10.*;")) << got;
    EXPECT_NE(std::string::npos, got.find(";branch.example;*.branch.example")) << got;
    EXPECT_NE(std::string::npos, got.find(";proxy.site.example")) << got;
    EXPECT_EQ(std::string::npos, got.find("www.")) << got;
    EXPECT_EQ(std::string::npos, got.find("trusted")) << got;
    // A list that does not fit keeps whole entries only: never a cut
    // pattern that would name other hosts.
    char small[20];
    SetText(kInternet, "ProxyOverride", "a.example;*.corp.example");
    IntranetNames(small, sizeof small);
    EXPECT_STREQ("a.example", small);
}
