// Setup-description values read through the system's profile functions.
#include <gtest/gtest.h>

#include "base/code_page_win.h"
#include "base/text_copy.h"
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
    void TearDown() override {
        ClearProfileCache();
        SetTextsUtf8(false);
    }
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

// Where the program runs in UTF-8, a setup description in the legacy code
// page, or in UTF-8 with its mark, reads through a UTF-16 copy made again
// when the file changes; plain UTF-8 and ASCII read as they are.
TEST_F(ProfileWinTest, FilesReadInTheProgramsCodePageWhateverTheirEncoding) {
    UseProgramCodePage();
    ASSERT_TRUE(TextsUtf8()) << "the test program chooses UTF-8 in its manifest";
    const std::string legacy = dir / "legacy.inf";
    setuptest::WriteFile(legacy, "[c]\r\nname=Caf\xE9\r\ncount=3\r\n[t]\r\nV=\xDC\r\n");
    char out[64];
    ReadSetting("c", "name", "", out, sizeof out, legacy.c_str());
    EXPECT_STREQ("Caf\xC3\xA9", out);
    EXPECT_EQ(3, ReadSettingInt("c", "count", 1, legacy.c_str()));
    LoadSection("t", legacy.c_str());
    EXPECT_STREQ("\xC3\x9C", FindVariable("V"));
    EXPECT_STRNE(legacy.c_str(), ReadablePath(legacy.c_str()));
    // Cut by the reader: never half a character.
    char small[5];
    ReadSetting("c", "name", "", small, sizeof small, legacy.c_str());
    EXPECT_STREQ("Caf", small);
    setuptest::WriteFile(legacy, "[c]\r\nname=Na\xEFve caf\xE9\r\n");
    ReadSetting("c", "name", "", out, sizeof out, legacy.c_str());
    EXPECT_STREQ("Na\xC3\xAFve caf\xC3\xA9", out);

    const std::string utf8 = dir / "utf8.inf";
    setuptest::WriteFile(utf8, "[c]\r\nname=\xD0\x94\xC3\xA9\r\n");
    EXPECT_EQ(utf8.c_str(), ReadablePath(utf8.c_str()));
    ReadSetting("c", "name", "", out, sizeof out, utf8.c_str());
    EXPECT_STREQ("\xD0\x94\xC3\xA9", out);
    const std::string marked = dir / "marked.inf";
    setuptest::WriteFile(marked, "\xEF\xBB\xBF[c]\r\nname=\xD0\x94\xC3\xA9\r\n");
    ReadSetting("c", "name", "", out, sizeof out, marked.c_str());
    EXPECT_STREQ("\xD0\x94\xC3\xA9", out);
    EXPECT_EQ(ini.c_str(), ReadablePath(ini.c_str()));

    // Where the program's texts are not UTF-8, every file reads as it is.
    SetTextsUtf8(false);
    EXPECT_EQ(legacy.c_str(), ReadablePath(legacy.c_str()));
}
