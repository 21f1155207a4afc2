// Setup-description values read through the system's profile functions.
#include <gtest/gtest.h>

#include "setup/profile_win.h"
#include "setup_test_support.h"

using setuptest::ScratchDir;

namespace {

class ProfileWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProfileCache();
        ini = dir / "setup.inf";
        setuptest::WriteFile(ini,
                             "[defs]\r\nstrings=A,B\r\n"
                             "[A]\r\nSite=a.example\r\nOnlyA=1\r\n; note\r\n"
                             "[B]\r\nsite=b.example\r\n"
                             "[comp]\r\nname=%OnlyA%-%Site%\r\nurl=ftp://%SITE%/%missing%x\r\n"
                             "long=0123456789abcdef\r\n");
    }
    void TearDown() override { ClearProfileCache(); }
    ScratchDir dir{"profile"};
    std::string ini;
};

}  // namespace

TEST_F(ProfileWinTest, SectionsLoadedInListOrderLaterOneWins) {
    LoadSection("A", ini.c_str());
    LoadSection("B", ini.c_str());
    LoadSection("NoSuchSection", ini.c_str());
    EXPECT_STREQ("b.example", FindVariable("Site"));
    EXPECT_STREQ("1", FindVariable("OnlyA"));
    char out[200];
    ReadSetting("comp", "name", "", out, sizeof out, ini.c_str());
    EXPECT_STREQ("1-b.example", out);
    ReadSetting("comp", "URL", "", out, sizeof out, ini.c_str());
    EXPECT_STREQ("ftp://b.example/x", out);
}

TEST_F(ProfileWinTest, DefaultsAreExpandedAndValuesCut) {
    LoadSection("A", ini.c_str());
    char out[200];
    ReadSetting("comp", "absent", "%Site%/dir", out, sizeof out, ini.c_str());
    EXPECT_STREQ("a.example/dir", out);
    ReadSetting("nosection", "absent", nullptr, out, sizeof out, ini.c_str());
    EXPECT_STREQ("", out);
    char small[8];
    ReadSetting("comp", "long", "", small, sizeof small, ini.c_str());
    EXPECT_STREQ("0123456", small);
}

TEST_F(ProfileWinTest, MissingFileAddsNothing) {
    LoadSection("A", (dir / "absent.inf").c_str());
    EXPECT_EQ(nullptr, FindVariable("Site"));
}
