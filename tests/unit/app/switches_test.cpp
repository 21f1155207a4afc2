// Command-line switches, the relaunch command line and the folder of a
// "-inf " run.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/switches.h"

namespace {
Switches Parse(const char* commandLine) {
    Switches s;
    std::memset(&s, 0x5A, sizeof s);  // nothing may survive from before
    ParseSwitches(commandLine, &s);
    return s;
}
}  // namespace

TEST(Switches, PlainStartRunsAFirstSession) {
    for (const char* cl : {"", "   ", "setup.exe", static_cast<const char*>(nullptr)}) {
        Switches s = Parse(cl);
        EXPECT_EQ(RunSession, s.mode);
        EXPECT_EQ(0, s.run2);
        EXPECT_EQ(nullptr, s.setupPath);
        EXPECT_EQ(0, s.deferPackageSetup);
        EXPECT_EQ(0, s.saveProxySettings);
        EXPECT_EQ(0, s.unattended);
        EXPECT_EQ(0, s.resumed);
        EXPECT_EQ(0, s.askForRestart);
    }
}

TEST(Switches, BothFormsOfEachSwitch) {
    EXPECT_EQ(TrayWait, Parse("/tray").mode);
    EXPECT_EQ(TrayWait, Parse("-tray").mode);
    EXPECT_EQ(1, Parse("-tray").unattended);
    EXPECT_EQ(1, Parse("/is").deferPackageSetup);
    EXPECT_EQ(1, Parse("-is").deferPackageSetup);
    EXPECT_EQ(1, Parse("/SaveProxySettings").saveProxySettings);
    EXPECT_EQ(1, Parse("-SaveProxySettings").saveProxySettings);
    EXPECT_EQ(1, Parse("/quiet").quiet);
    EXPECT_EQ(1, Parse("-quiet").quiet);
    EXPECT_EQ(0, Parse("/Quiet").quiet);
    EXPECT_EQ(0, Parse("-inf C:\\x\\/quiet\\a.inf").quiet);
    // A quiet run is not a resumed one, and starts no differently.
    EXPECT_EQ(RunSession, Parse("/quiet").mode);
    EXPECT_EQ(0, Parse("/quiet").resumed);
    for (const char* cl : {"/NoIntervention", "-NoIntervention"}) {
        Switches s = Parse(cl);
        EXPECT_EQ(RunSession, s.mode);
        EXPECT_EQ(1, s.resumed);
        EXPECT_EQ(1, s.unattended);
    }
    for (const char* cl : {"/AskForRestart", "-AskForRestart"}) {
        Switches s = Parse(cl);
        EXPECT_EQ(RunSession, s.mode);
        EXPECT_EQ(1, s.askForRestart);
        EXPECT_EQ(0, s.unattended);
    }
    // "-run2" and "-inf " have the dash form only.
    EXPECT_EQ(1, Parse("-run2").run2);
    EXPECT_EQ(0, Parse("/run2").run2);
    EXPECT_EQ(nullptr, Parse("/inf C:\\a.inf").setupPath);
}

TEST(Switches, LaterSwitchesOverrideTheTrayInTheDocumentedOrder) {
    // Whatever order they are written in, the tray is tested first and the
    // session switches after it.
    EXPECT_EQ(RunSession, Parse("/NoIntervention /tray").mode);
    EXPECT_EQ(RunSession, Parse("/tray /NoIntervention").mode);
    Switches s = Parse(" /AskForRestart /tray /SaveProxySettings");
    EXPECT_EQ(RunSession, s.mode);
    EXPECT_EQ(1, s.askForRestart);
    EXPECT_EQ(1, s.unattended);
    EXPECT_EQ(1, s.saveProxySettings);
}

TEST(Switches, FoundInsideLongerWordsAndCaseSensitive) {
    EXPECT_EQ(TrayWait, Parse("-traylater").mode);
    EXPECT_EQ(TrayWait, Parse("C:\\my-tray\\x.exe").mode);
    // "/is" hides in any path with a directory starting with "is".
    EXPECT_EQ(1, Parse("D:/isos/setup.exe").deferPackageSetup);
    EXPECT_EQ(RunSession, Parse("/TRAY").mode);
    EXPECT_EQ(0, Parse("/noIntervention").resumed);
    EXPECT_EQ(0, Parse("-IS").deferPackageSetup);
}

TEST(Switches, InfTakesTheRestAndSwitchesAreOnlyLookedForBeforeIt) {
    const char* cl = "-run2 /tray -inf \"C:\\my setup\\cv.inf\"";
    Switches s = Parse(cl);
    ASSERT_NE(nullptr, s.setupPath);
    EXPECT_STREQ("\"C:\\my setup\\cv.inf\"", s.setupPath);
    EXPECT_EQ(cl + 17, s.setupPath);  // points into the command line
    EXPECT_EQ(1, s.run2);
    EXPECT_EQ(TrayWait, s.mode);
    // Without the blank there is no setup path.
    EXPECT_EQ(nullptr, Parse("-inf").setupPath);
    EXPECT_STREQ("", Parse("-inf ").setupPath);

    // The path is the path: what looks like a switch inside it sets nothing.
    for (const char* path : {"-inf D:/isos/a.inf", "-inf C:\\x\\-is\\a.inf",
                             "-inf C:\\my-tray\\/tray\\a.inf", "-inf C:\\-run2\\a.inf",
                             "-inf C:\\-NoIntervention-AskForRestart-SaveProxySettings.inf"}) {
        Switches p = Parse(path);
        EXPECT_EQ(RunSession, p.mode) << path;
        EXPECT_EQ(0, p.deferPackageSetup) << path;
        EXPECT_EQ(0, p.run2) << path;
        EXPECT_EQ(0, p.unattended) << path;
        EXPECT_EQ(0, p.resumed) << path;
        EXPECT_EQ(0, p.askForRestart) << path;
        EXPECT_EQ(0, p.saveProxySettings) << path;
    }
    // The resume shortcut's form: the switches, then the path.
    Switches r = Parse(" /tray /AskForRestart /SaveProxySettings -inf \"C:\\a b\\cv.inf\"");
    EXPECT_EQ(RunSession, r.mode);
    EXPECT_EQ(1, r.askForRestart);
    EXPECT_EQ(1, r.unattended);
    EXPECT_EQ(1, r.saveProxySettings);
    EXPECT_STREQ("\"C:\\a b\\cv.inf\"", r.setupPath);
}

TEST(SetupPath, QuotesAndBlanksAroundThePathAreRemoved) {
    char out[260];
    const struct {
        const char* raw;
        const char* clean;
    } cases[] = {
        {"C:\\setup\\cv.inf", "C:\\setup\\cv.inf"},
        {"\"C:\\my setup\\cv.inf\"", "C:\\my setup\\cv.inf"},
        // A launcher quoted the whole argument "-inf C:\my setup\cv.inf".
        {"C:\\my setup\\cv.inf\"", "C:\\my setup\\cv.inf"},
        {"  \" sub\\cv.inf \"  ", "sub\\cv.inf"},
        {"sub dir\\cv.inf\t", "sub dir\\cv.inf"},
        {"\"\"", ""},
        {"\"", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        CleanSetupPath(c.raw, out, sizeof out);
        EXPECT_STREQ(c.clean, out) << c.raw;
    }
    char small[8];
    std::memset(small, 'x', sizeof small);
    CleanSetupPath("\"C:\\long\\path.inf\"", small, 6);
    EXPECT_STREQ("C:\\lo", small);
    EXPECT_EQ('x', small[6]);
}

TEST(RelaunchArguments, TheThreeTypicalForms) {
    char out[260];
    BuildRelaunchArguments(1, 0, 1, nullptr, out, sizeof out);
    EXPECT_STREQ(" /tray /SaveProxySettings", out);
    BuildRelaunchArguments(1, 1, 1, nullptr, out, sizeof out);
    EXPECT_STREQ(" /tray /AskForRestart /SaveProxySettings", out);
    BuildRelaunchArguments(0, 0, 0, nullptr, out, sizeof out);
    EXPECT_STREQ(" /NoIntervention", out);
    // A session ended by Windows without intervention allowed does not ask.
    BuildRelaunchArguments(0, 1, 0, nullptr, out, sizeof out);
    EXPECT_STREQ(" /NoIntervention", out);
    BuildRelaunchArguments(1, 0, 0, nullptr, out, sizeof out);
    EXPECT_STREQ(" /tray", out);
}

TEST(RelaunchArguments, ARunOfANamedSetupDescriptionNamesItLast) {
    char out[600];
    EXPECT_TRUE(BuildRelaunchArguments(1, 1, 1, "C:\\my setup\\cv.inf", out, sizeof out));
    EXPECT_STREQ(" /tray /AskForRestart /SaveProxySettings -inf \"C:\\my setup\\cv.inf\"", out);
    // Read back, the same switches and the same path.
    Switches s = Parse(out);
    EXPECT_EQ(1, s.askForRestart);
    EXPECT_EQ(1, s.saveProxySettings);
    char path[260];
    CleanSetupPath(s.setupPath, path, sizeof path);
    EXPECT_STREQ("C:\\my setup\\cv.inf", path);

    // A longest path fits the program's buffer; a path cut short would
    // name another file, so a buffer too small gives no arguments.
    std::string longest = "C:\\" + std::string(255, 'p');
    EXPECT_TRUE(BuildRelaunchArguments(1, 1, 1, longest.c_str(), out, sizeof out));
    EXPECT_NE(nullptr, std::strstr(out, longest.c_str()));
    char small[40];
    EXPECT_FALSE(BuildRelaunchArguments(0, 0, 0, "C:\\a\\very\\long\\path\\cv.inf", small,
                                        sizeof small));
}

// A quiet run's later starts are quiet too, and use the run's proxy; a
// proxy that does not fit whole gives no arguments rather than another
// host.
TEST(RelaunchArguments, TheRunsOwnSwitchesGoAlongBeforeTheSetupPath) {
    char carried[64];
    BuildCarriedSwitches(1, "proxy.corp:3128", carried, sizeof carried);
    EXPECT_STREQ(" /quiet /proxy proxy.corp:3128", carried);
    BuildCarriedSwitches(0, "direct", carried, sizeof carried);
    EXPECT_STREQ(" /proxy direct", carried);
    BuildCarriedSwitches(0, nullptr, carried, sizeof carried);
    EXPECT_STREQ("", carried);

    char out[600];
    BuildCarriedSwitches(1, "direct", carried, sizeof carried);
    EXPECT_TRUE(BuildRelaunchArguments(0, 0, 1, "C:\\s\\cv.inf", out, sizeof out, carried));
    EXPECT_STREQ(" /NoIntervention /SaveProxySettings /quiet /proxy direct -inf \"C:\\s\\cv.inf\"", out);
    Switches s = Parse(out);
    EXPECT_EQ(1, s.quiet);
    EXPECT_EQ(1, s.resumed);
    char small[30];
    EXPECT_FALSE(BuildRelaunchArguments(0, 0, 1, nullptr, small, sizeof small, carried));
}

TEST(RelaunchArguments, CutToTheBuffer) {
    char out[12];
    std::memset(out, 'x', sizeof out);
    BuildRelaunchArguments(1, 1, 1, nullptr, out, 10);
    EXPECT_STREQ(" /tray /A", out);
    EXPECT_EQ('x', out[10]);  // nothing written past the given size
}

TEST(RelaunchProgram, FolderPlusOwnFileName) {
    char out[260];
    BuildRelaunchProgram("C:\\T\\inst12.tmp", "D:\\x\\setup.exe", out, sizeof out);
    EXPECT_STREQ("C:\\T\\inst12.tmp\\setup.exe", out);
}

TEST(RelaunchProgram, BoundedBy260Characters) {
    std::string folder = "C:\\" + std::string(250, 'f');
    char out[262];
    std::memset(out, 'x', sizeof out);
    BuildRelaunchProgram(folder.c_str(), "D:\\x\\setup.exe", out, 260);
    EXPECT_EQ(259u, std::strlen(out));
    EXPECT_EQ(folder + "\\setup", std::string(out));
    EXPECT_EQ('x', out[260]);
    // A folder that already fills the buffer leaves no room for the name.
    std::string full(300, 'g');
    BuildRelaunchProgram(full.c_str(), "D:\\x\\setup.exe", out, 260);
    EXPECT_EQ(std::string(259, 'g'), std::string(out));
}

namespace {
// Shift-JIS style lead bytes; their trail bytes may be 0x5C, the backslash.
bool ShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
}  // namespace

TEST(SetupFolder, CutAtTheLastSeparator) {
    char out[260];
    SetupFolderOf("C:\\setup\\cv.inf", out, sizeof out, nullptr);
    EXPECT_STREQ("C:\\setup", out);
    SetupFolderOf("C:cv.inf", out, sizeof out, nullptr);
    EXPECT_STREQ("C", out);
    SetupFolderOf("\\\\server\\share\\a.inf", out, sizeof out, nullptr);
    EXPECT_STREQ("\\\\server\\share", out);
    SetupFolderOf("cv.inf", out, sizeof out, nullptr);
    EXPECT_STREQ(".", out);
    SetupFolderOf("", out, sizeof out, nullptr);
    EXPECT_STREQ(".", out);
}

TEST(SetupFolder, DoubleByteTrailIsNoSeparator) {
    // 0x95 0x5C is one character whose second byte is a backslash.
    const char path[] = "C:\\dir\x95\x5C\\cv.inf";
    char out[260];
    SetupFolderOf(path, out, sizeof out, ShiftJisLead);
    EXPECT_STREQ("C:\\dir\x95\x5C", out);
    const char inside[] = "C:\\dir\x95\x5C" "cv.inf";
    SetupFolderOf(inside, out, sizeof out, ShiftJisLead);
    EXPECT_STREQ("C:", out);
    // Read as single bytes, the trail byte would have been the cut.
    SetupFolderOf(inside, out, sizeof out, nullptr);
    EXPECT_STREQ("C:\\dir\x95", out);
}

TEST(SetupFolder, CutToTheBuffer) {
    std::string path = "C:\\" + std::string(300, 'd') + "\\cv.inf";
    char out[262];
    std::memset(out, 'x', sizeof out);
    SetupFolderOf(path.c_str(), out, 260, nullptr);
    EXPECT_EQ(259u, std::strlen(out));
    EXPECT_EQ('x', out[260]);
}

TEST(Switches, InstallKeptTakesTheFolderToTheEndAndHidesItFromTheOthers) {
    Switches s = Parse(" -run2 /SaveProxySettings /InstallKept C:\\Users\\x-is /tray\\inst1.tmp");
    EXPECT_EQ(1, s.installKept);
    ASSERT_NE(nullptr, s.keptFolder);
    EXPECT_STREQ("C:\\Users\\x-is /tray\\inst1.tmp", s.keptFolder);
    EXPECT_EQ(1, s.run2);
    EXPECT_EQ(1, s.saveProxySettings);
    EXPECT_EQ(0, s.deferPackageSetup);  // "-is" inside the folder counts for nothing
    EXPECT_EQ(RunSession, s.mode);      // nor does "/tray"
    EXPECT_EQ(nullptr, s.setupPath);

    // A "-inf " run: the setup description follows, and its folder is the
    // download folder.
    s = Parse(" /InstallKept -inf C:\\setup\\cv.inf");
    EXPECT_EQ(1, s.installKept);
    EXPECT_EQ(nullptr, s.keptFolder);
    ASSERT_NE(nullptr, s.setupPath);
    EXPECT_STREQ("C:\\setup\\cv.inf", s.setupPath);

    // A folder that holds "-inf " is still a folder.
    s = Parse(" /InstallKept C:\\a -inf b");
    EXPECT_STREQ("C:\\a -inf b", s.keptFolder);
    EXPECT_EQ(nullptr, s.setupPath);

    for (const char* cl : {" /InstallKept", " /InstallKept "}) {
        s = Parse(cl);
        EXPECT_EQ(1, s.installKept) << cl;
        EXPECT_EQ(nullptr, s.keptFolder) << cl;
    }
    EXPECT_EQ(0, Parse(" /tray").installKept);
}

// Only the elevated copy's switch takes the list's sum, and only a whole one.
TEST(Switches, TheKeptSumIsSixtyFourHexDigitsBeforeInstallKept) {
    const std::string sum(64, 'a');
    Switches s = Parse((" /KeptSum:" + sum + " /InstallKept C:\\k").c_str());
    EXPECT_EQ(sum, s.keptSum);
    for (const std::string& cl : {" /KeptSum:" + sum.substr(1) + " /InstallKept C:\\k",
                                  " /KeptSum:" + sum + "0 /InstallKept C:\\k",
                                  " /KeptSum:" + sum.substr(1) + "g /InstallKept C:\\k",
                                  " /KeptSum:" + sum,  // no copy switch
                                  " /InstallKept C:\\k /KeptSum:" + sum}) {
        s = Parse(cl.c_str());
        EXPECT_STREQ("", s.keptSum) << cl;
    }
}

// "/proxy VALUE": its value runs to the next blank, only before "-inf ", and
// holds no other switch.
TEST(Switches, ProxyTakesTheNextWordAndHidesItFromTheOthers) {
    Switches s = Parse("/quiet /proxy proxy.corp:3128 -inf C:\\cv.inf");
    EXPECT_EQ(1, s.proxyGiven);
    EXPECT_STREQ("proxy.corp:3128", s.proxy);
    EXPECT_EQ(1, s.quiet);
    s = Parse("-proxy   direct /tray");
    EXPECT_EQ(1, s.proxyGiven);
    EXPECT_STREQ("direct", s.proxy);
    EXPECT_EQ(TrayWait, s.mode);
    // A host name that holds switches sets none of them.
    s = Parse("/proxy my-tray-is-run2-quiet.corp:80");
    EXPECT_STREQ("my-tray-is-run2-quiet.corp:80", s.proxy);
    EXPECT_EQ(RunSession, s.mode);
    EXPECT_EQ(0, s.deferPackageSetup);
    EXPECT_EQ(0, s.run2);
    EXPECT_EQ(0, s.quiet);
    // Given without a value, given inside the setup path, or as part of
    // another word: no proxy value taken from there.
    s = Parse("/proxy");
    EXPECT_EQ(0, s.proxyGiven);
    s = Parse("/proxy ");
    EXPECT_EQ(1, s.proxyGiven);
    EXPECT_STREQ("", s.proxy);
    s = Parse("-inf C:\\x /proxy evil:80\\a.inf");
    EXPECT_EQ(0, s.proxyGiven);
    EXPECT_STREQ("", s.proxy);
    EXPECT_EQ(0, Parse("/SaveProxySettings /proxyx a:1").proxyGiven);
    // A value that does not fit is not cut to another host: it is empty.
    std::string longer = "/proxy " + std::string(300, 'a') + ":80";
    s = Parse(longer.c_str());
    EXPECT_EQ(1, s.proxyGiven);
    EXPECT_STREQ("", s.proxy);
    // Carried to a later start whole or not at all.
    char carried[24];
    BuildCarriedSwitches(1, "proxy.corp.example:3128", carried, sizeof carried);
    EXPECT_STREQ(" /quiet", carried);
}
