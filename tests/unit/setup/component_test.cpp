// Protocol names, version requirements, the program's directory, the
// names a component's file list may use, and the table of the keys of a
// setup description.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "setup/component.h"
#include "setup/setup_keys.h"

TEST(ProtocolFromNameTest, CaseRulesPerProtocol) {
    EXPECT_EQ(ProtocolFtp, ProtocolFromName("ftp"));
    EXPECT_EQ(ProtocolFtp, ProtocolFromName("FTP"));
    EXPECT_EQ(ProtocolCopy, ProtocolFromName("CoPy"));
    EXPECT_EQ(ProtocolCdrom, ProtocolFromName("CDROM"));
    EXPECT_EQ(ProtocolHttp, ProtocolFromName("http"));
    EXPECT_EQ(ProtocolSelfext, ProtocolFromName("HTTP"));
    EXPECT_EQ(ProtocolSelfext, ProtocolFromName("Http"));
    EXPECT_EQ(ProtocolSelfext, ProtocolFromName("selfext"));
    EXPECT_EQ(ProtocolSelfext, ProtocolFromName(""));
    EXPECT_EQ(ProtocolSelfext, ProtocolFromName("ftps"));
    EXPECT_EQ(ProtocolSelfext, ProtocolFromName(nullptr));
}

TEST(VersionRequirementTest, ParsesPartsAndTheFileVersionMark) {
    VersionRequirement r;
    ParseVersionRequirement("#4.21", &r);
    EXPECT_EQ(1, r.useFileVersion);
    EXPECT_EQ(0x00040015u, r.high);
    EXPECT_EQ(0u, r.low);
    ParseVersionRequirement("1.2.3.4", &r);
    EXPECT_EQ(0, r.useFileVersion);
    EXPECT_EQ(0x00010002u, r.high);
    EXPECT_EQ(0x00030004u, r.low);
    ParseVersionRequirement("1.2.3.4.5", &r);  // a fifth part is ignored
    EXPECT_EQ(0x00030004u, r.low);
    ParseVersionRequirement("65535.99999", &r);  // numbers stop at 65535
    EXPECT_EQ(0xFFFFFFFFu, r.high);
    ParseVersionRequirement("", &r);
    EXPECT_EQ(0u, r.high);
    EXPECT_EQ(0u, r.low);
    ParseVersionRequirement("#", &r);
    EXPECT_EQ(1, r.useFileVersion);
    EXPECT_EQ(0u, r.high);
    ParseVersionRequirement("7b.x.3", &r);  // leading digits only; none read as 0
    EXPECT_EQ(0x00070000u, r.high);
    EXPECT_EQ(0x00030000u, r.low);
    ParseVersionRequirement("4..21", &r);  // an empty place is a 0 there
    EXPECT_EQ(0x00040000u, r.high);
    EXPECT_EQ(0x00150000u, r.low);
    ParseVersionRequirement("#.5", &r);
    EXPECT_EQ(0x00000005u, r.high);
}

TEST(VersionRequirementTest, ComparesHighThenLowUnsigned) {
    VersionRequirement r;
    ParseVersionRequirement("4.21", &r);
    EXPECT_TRUE(VersionAtLeast(0x00040015, 0, &r));
    EXPECT_TRUE(VersionAtLeast(0x00040016, 0, &r));
    EXPECT_FALSE(VersionAtLeast(0x00040014, 0xFFFFFFFF, &r));
    EXPECT_TRUE(VersionAtLeast(0x9C400000, 0, &r));  // 40000.0: above 0x7fffffff
    ParseVersionRequirement("4.21.0.1", &r);
    EXPECT_FALSE(VersionAtLeast(0x00040015, 0, &r));
    EXPECT_TRUE(VersionAtLeast(0x00040015, 1, &r));
    ParseVersionRequirement("1.0.40000", &r);
    EXPECT_TRUE(VersionAtLeast(0x00010000, 0x9C400000, &r));
    EXPECT_FALSE(VersionAtLeast(0x00010000, 0x7FFFFFFF, &r));
}

TEST(ProgramDirectoryTest, CutsAtTheLastBackslashAndKeepsTheDrive) {
    char out[260];
    ProgramDirectory("D:\\setup\\install.exe", out, sizeof out);
    EXPECT_STREQ("D:\\setup", out);
    ProgramDirectory("D:\\install.exe", out, sizeof out);
    EXPECT_STREQ("D:", out);
    ProgramDirectory("\\\\server\\share\\install.exe", out, sizeof out);
    EXPECT_STREQ("\\\\server\\share", out);
    ProgramDirectory("install.exe", out, sizeof out);
    EXPECT_STREQ(".", out);
    char small[5];
    std::memset(small, 'X', sizeof small);
    ProgramDirectory("C:\\longer\\x.exe", small, 4);
    EXPECT_STREQ("C:\\", small);
    EXPECT_EQ('X', small[4]);
}

TEST(FileNameSafetyTest, NamesStayInsideTheSourceFolder) {
    for (const char* name : {"client.bin", "sub\\file.dat", "sub/file.dat", "a.b.c", "x..y",
                             "..x", "x..", ".hidden", ".\\in.dat", "deep\\er\\name"})
        EXPECT_EQ(1, IsSafeFileName(name)) << name;
    for (const char* name : {"", "\\Windows\\win.ini", "/etc", "\\\\server\\share\\x",
                             "C:\\x.dll", "c:x.dll", "file.txt:stream", "..", "..\\up.dll",
                             "sub\\..\\..\\up.dll", "sub/../x", "...\\x", ". .\\x", "sub\\.. ",
                             "sub\\..."})
        EXPECT_EQ(0, IsSafeFileName(name)) << name;
    EXPECT_EQ(0, IsSafeFileName(nullptr));
}

TEST(FileNameSafetyTest, AListIsSafeOnlyWhenEveryNameIs) {
    EXPECT_EQ(1, AreFileNamesSafe(""));
    EXPECT_EQ(1, AreFileNamesSafe(" , ,"));
    EXPECT_EQ(1, AreFileNamesSafe("a.cab,b.cab sub\\c.cab"));
    EXPECT_EQ(0, AreFileNamesSafe("a.cab,..\\b.cab"));
    EXPECT_EQ(0, AreFileNamesSafe("a.cab C:\\b.cab"));
    EXPECT_EQ(0, AreFileNamesSafe(std::string(400, 'n').c_str()));
}

TEST(SetupKeysTest, KeysAreFoundWithoutCaseAndNumbersAsTheProgramWritesThem) {
    int number = -1;
    EXPECT_EQ(KeyProtocol, FindSetupKey(KeyInComponent, "PROTOCOL", &number));
    EXPECT_EQ(0, number);
    EXPECT_EQ(KeySourceDir, FindSetupKey(KeyInComponent, "sourceDir", &number));
    EXPECT_EQ(KeySite, FindSetupKey(KeyInComponent, "site", &number));
    EXPECT_EQ(KeyInstall, FindSetupKey(KeyInComponent, "Install12", &number));
    EXPECT_EQ(12, number);
    EXPECT_EQ(KeyMirrorSite, FindSetupKey(KeyInComponent, "site2", &number));
    EXPECT_EQ(2, number);
    EXPECT_EQ(KeyMirrorPassword, FindSetupKey(KeyInComponent, "password3", &number));
    EXPECT_EQ(KeyFileSha256, FindSetupKey(KeyInComponent, "SHA256", &number));
    EXPECT_EQ(KeyFileSha256Nth, FindSetupKey(KeyInComponent, "sha256_1", &number));
    EXPECT_EQ(1, number);
    EXPECT_EQ(KeyComponents, FindSetupKey(KeyInDefs, "Components", &number));
    // Numbers the program never formats, keys of the other place, and
    // near misses are unknown.
    for (const char* key : {"install0", "install01", "install", "install-1", "install1x", "install10000", "site1",
                            "user1", "sha256_0", "sha256_", "sha2561", "components", "name ", ""})
        EXPECT_EQ(-1, FindSetupKey(KeyInComponent, key, &number)) << key;
    EXPECT_EQ(-1, FindSetupKey(KeyInDefs, "name", &number));
    EXPECT_EQ(-1, FindSetupKey(KeyInDefs, nullptr, &number));

    char nearest[64];
    const std::pair<const char*, const char*> typos[] = {
        {"Protocl", "Protocol"}, {"sourcedirectory", "SourceDir"}, {"instal1", "install1"},
        {"sha265", "sha256"},    {"sites2", "site2"},              {"DisplayOrdr", "DisplayOrder"}};
    for (const auto& typo : typos) {
        NearestSetupKey(KeyInComponent, typo.first, nearest, sizeof nearest);
        EXPECT_STREQ(typo.second, nearest) << typo.first;
    }
    NearestSetupKey(KeyInDefs, "component", nearest, sizeof nearest);
    EXPECT_STREQ("components", nearest);
    NearestSetupKey(KeyInDefs, std::string(500, 'x').c_str(), nearest, 4);
    EXPECT_EQ(3u, std::strlen(nearest));
}

// Every key the program reads from a setup description is in the table, so
// that the publisher's check never calls one of them unknown.
TEST(SetupKeysTest, EveryKeyTheProgramReadsIsInTheTable) {
    const char* root = std::getenv("CV_SOURCE_DIR");
    ASSERT_NE(nullptr, root);
    // Keys written out where the program reads them, and numbered keys
    // formatted for reading ("install%d").
    const std::regex read(R"re((ReadSetting|ReadSettingInt|GetPrivateProfileIntA|GetPrivateProfileStringA)\(\s*[^,()]+,\s*"([^"]+)")re");
    const std::regex numbered(R"re("([A-Za-z_]+)%d")re");
    int found = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(root) + "/src")) {
        if (entry.path().extension() != ".cpp") continue;
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        const std::string source = text.str();
        if (source.find("ReadSetting(") == std::string::npos &&
            source.find("GetPrivateProfileIntA(") == std::string::npos)
            continue;
        for (std::sregex_iterator m(source.begin(), source.end(), read), end; m != end; ++m) {
            const std::string key = (*m)[2];
            int number;
            EXPECT_TRUE(FindSetupKey(KeyInComponent, key.c_str(), &number) >= 0 ||
                        FindSetupKey(KeyInDefs, key.c_str(), &number) >= 0)
                << entry.path() << " reads \"" << key << "\", which the key table lacks";
            ++found;
        }
        for (std::sregex_iterator m(source.begin(), source.end(), numbered), end; m != end; ++m) {
            const std::string key = std::string((*m)[1]) + "1";
            int number;
            EXPECT_GE(FindSetupKey(KeyInComponent, key.c_str(), &number), 0)
                << entry.path() << " formats \"" << (*m)[0] << "\", which the key table lacks";
            ++found;
        }
    }
    // The scan still sees the program's readers.
    EXPECT_GE(found, 4);
}
