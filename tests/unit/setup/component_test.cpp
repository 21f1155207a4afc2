// Protocol names, version requirements, the program's directory and the
// names a component's file list may use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "setup/component.h"

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
