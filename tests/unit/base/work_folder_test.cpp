// The names of the working folders and the rule that tells which folder a
// start may remove as a download folder.
#include "base/work_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(WorkFolderName, PrefixEightHexDigitsAndTmp) {
    char out[32];
    ASSERT_EQ(1, FormatWorkFolderName(kDownloadFolderPrefix, 0x1a2bUL, out, sizeof out));
    EXPECT_STREQ("inst00001a2b.tmp", out);
    ASSERT_EQ(1, FormatWorkFolderName(kPackageFolderPrefix, 0xfedcba98UL, out, sizeof out));
    EXPECT_STREQ("INSfedcba98.tmp", out);
    // Exactly fitting, then one short: never cut, which would name another folder.
    ASSERT_EQ(1, FormatWorkFolderName("inst", 0, out, 17));
    EXPECT_EQ(0, FormatWorkFolderName("inst", 0, out, 16));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0, FormatWorkFolderName("inst", 0, out, 0));
}

TEST(WorkFolderName, OnlyTheProgramsOwnNamesAreDownloadFolders) {
    for (const char* name : {"inst00001a2b.tmp", "INST0A1B2C3D.TMP", "inst1.tmp", "insd059.tmp", "INS4C7E.tmp",
                             "ins0.tmp"})
        EXPECT_TRUE(IsDownloadFolderName(name)) << name;
    for (const char* name :
         {"", "inst.tmp", "ins.tmp", "inst000000001.tmp", "ins12345.tmp", "instxyz.tmp", "inst1234.tmp.x",
          "inst1234.tm", "inst1234tmp", "Windows", "inst1234.tmp\\x", "xinst1234.tmp", "inst12 34.tmp"})
        EXPECT_FALSE(IsDownloadFolderName(name)) << name;
    EXPECT_FALSE(IsDownloadFolderName(nullptr));
    // A name made for a package folder is never taken for a download folder.
    char out[32];
    FormatWorkFolderName(kPackageFolderPrefix, 0x1234UL, out, sizeof out);
    EXPECT_FALSE(IsDownloadFolderName(out));
    FormatWorkFolderName(kDownloadFolderPrefix, 0xffffffffUL, out, sizeof out);
    EXPECT_TRUE(IsDownloadFolderName(out));
}

TEST(WorkFolderPath, DirectlyInTheTemporaryFolderOnly) {
    const char* temp = "C:\\Users\\u\\AppData\\Local\\Temp\\";
    EXPECT_TRUE(IsDownloadFolderPath("C:\\Users\\u\\AppData\\Local\\Temp\\inst00001a2b.tmp", temp));
    EXPECT_TRUE(IsDownloadFolderPath("c:\\users\\U\\appdata\\local\\temp\\INST00001A2B.tmp", temp));
    EXPECT_TRUE(IsDownloadFolderPath("C:\\Users\\u\\AppData\\Local\\Temp/inst1.tmp", "C:\\Users\\u\\AppData\\Local\\Temp"));
    const char* refused[] = {
        "C:\\Users\\u\\AppData\\Local\\Temp\\sub\\inst00001a2b.tmp",  // deeper
        "C:\\Users\\u\\AppData\\Local\\inst00001a2b.tmp",            // elsewhere
        "C:\\Users\\u\\AppData\\Local\\Temp2\\inst00001a2b.tmp",     // a longer name that starts alike
        "C:\\Users\\u\\AppData\\Local\\Temp\\\\inst00001a2b.tmp",    // an empty part
        "C:\\Users\\u\\AppData\\Local\\Temp\\inst00001a2b.tmp\\",
        "C:\\Users\\u\\AppData\\Local\\Temp\\Windows",
        "C:\\Users\\u\\AppData\\Local\\Temp\\",
        "C:\\Users\\u\\AppData\\Local\\Temp",
        "",
    };
    for (const char* path : refused) EXPECT_FALSE(IsDownloadFolderPath(path, temp)) << path;
    // A temporary folder named with "." or ".." parts proves nothing.
    EXPECT_FALSE(IsDownloadFolderPath("C:\\T\\..\\inst1.tmp", "C:\\T\\.."));
    EXPECT_FALSE(IsDownloadFolderPath("C:\\T\\.\\inst1.tmp", "C:\\T\\."));
    EXPECT_TRUE(IsDownloadFolderPath("C:\\T..x\\inst1.tmp", "C:\\T..x"));
    EXPECT_FALSE(IsDownloadFolderPath("C:\\inst1.tmp", ""));
    EXPECT_FALSE(IsDownloadFolderPath("\\inst1.tmp", "\\"));
    EXPECT_FALSE(IsDownloadFolderPath(nullptr, temp));
    EXPECT_FALSE(IsDownloadFolderPath("C:\\T\\inst1.tmp", nullptr));
}

}  // namespace
