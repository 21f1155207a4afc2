// Tests of the install line rules: action lines, target flags, command
// lines of started programs, COM queue names and registry lines.
#include "install/action_line.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

TEST(ActionLine, SplitsVerbFileAndTheRestOfTheLine) {
    ActionLine line;
    ASSERT_EQ(SplitActionLine("run,setup.exe,/S /v\"a,b\",x", &line), 1);
    EXPECT_STREQ(line.verb, "run");
    EXPECT_STREQ(line.file, "setup.exe");
    EXPECT_STREQ(line.arguments, "/S /v\"a,b\",x");  // commas included
    EXPECT_EQ(line.kind, VerbRun);

    // Leading separators are skipped before each token; blanks around the
    // verb and the file do not belong to them.
    ASSERT_EQ(SplitActionLine(",, copy ,, ctl.ocx ,16", &line), 1);
    EXPECT_STREQ(line.verb, "copy");
    EXPECT_STREQ(line.file, "ctl.ocx");
    EXPECT_STREQ(line.arguments, "16");
    EXPECT_EQ(line.kind, VerbCopy);

    ASSERT_EQ(SplitActionLine("package,data.cab", &line), 1);
    EXPECT_EQ(line.arguments, nullptr);
    EXPECT_EQ(line.kind, VerbPackage);
}

TEST(ActionLine, ClassifiesVerbsWithoutRegardToCase) {
    ActionLine line;
    struct {
        const char* text;
        ActionVerb kind;
    } cases[] = {
        {"ISPACKAGE,a", VerbIsPackage}, {"IsPackage,a", VerbIsPackage}, {"Run,a", VerbRun},
        {"PACKAGE,a", VerbPackage},     {"cOpY,a", VerbCopy},           {"open,a", VerbShell},
        {"runas,a", VerbShell},         {"packages,a", VerbShell},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SplitActionLine(c.text, &line), 1) << c.text;
        EXPECT_EQ(line.kind, c.kind) << c.text;
    }
}

TEST(ActionLine, ALineWithoutVerbOrFileIsRefused) {
    ActionLine line;
    const char* refused[] = {"", ",,,", "run", "run,", "run,,", " , ", "run, ,x", nullptr};
    for (const char* text : refused) EXPECT_EQ(SplitActionLine(text, &line), 0) << (text ? text : "null");
}

// The file of an action lies in the component's folder and a copy lands
// under its name in the target: a name that leads elsewhere refuses the line.
TEST(ActionLine, AFileThatLeadsOutOfTheFolderIsRefused) {
    ActionLine line;
    const char* refused[] = {
        "run,C:\\windows\\system32\\cmd.exe", "run,\\\\server\\share\\x.exe", "copy,\\x.dll,4",
        "copy,/etc/x,4",    "copy,..\\..\\x.dll,2",   "package,sub\\..\\..\\a.cab",
        "open,x.txt:stream", "copy,sub/.. /x.dll",  "run,... \\x.exe",
    };
    for (const char* text : refused) EXPECT_EQ(SplitActionLine(text, &line), 0) << text;
    // Folders inside the component's folder are fine, and so are dots inside
    // a name.
    ASSERT_EQ(SplitActionLine("copy,sub\\ctl..ocx,16", &line), 1);
    EXPECT_STREQ(line.file, "sub\\ctl..ocx");
    ASSERT_EQ(SplitActionLine("run,bin/setup.exe,C:\\x ..\\y", &line), 1);
    EXPECT_STREQ(line.arguments, "C:\\x ..\\y");  // arguments are not names
}

TEST(ActionLine, ALongLineIsCutNotOverrun) {
    std::string text = "run,setup.exe," + std::string(2000, 'a');
    ActionLine line;
    ASSERT_EQ(SplitActionLine(text.c_str(), &line), 1);
    EXPECT_EQ(strlen(line.arguments), 511u - strlen("run,setup.exe,"));
}

TEST(TargetFlags, ReadAsADecimalNumber) {
    EXPECT_EQ(ParseTargetFlags(nullptr), 0);
    EXPECT_EQ(ParseTargetFlags(""), 0);
    EXPECT_EQ(ParseTargetFlags("24"), 24);
    EXPECT_EQ(ParseTargetFlags("  16"), 16);
    EXPECT_EQ(ParseTargetFlags("8,extra"), 8);
    EXPECT_EQ(ParseTargetFlags("abc"), 0);
    EXPECT_EQ(ParseTargetFlags("99999999999999999999"), 0);
}

TEST(TargetFlags, ChooseTheFolderInOrderOfPrecedence) {
    EXPECT_EQ(ChooseTarget(0), TargetClientProgram);
    EXPECT_EQ(ChooseTarget(16), TargetClientProgram);
    EXPECT_EQ(ChooseTarget(1), TargetWindows);
    EXPECT_EQ(ChooseTarget(1 | 2 | 4 | 8), TargetWindows);
    EXPECT_EQ(ChooseTarget(2), TargetSystem);
    EXPECT_EQ(ChooseTarget(2 | 8 | 4), TargetSystem);
    EXPECT_EQ(ChooseTarget(8), TargetClientData);
    EXPECT_EQ(ChooseTarget(8 | 4 | 16), TargetClientData);
    EXPECT_EQ(ChooseTarget(4), TargetClientRoot);
    EXPECT_EQ(ChooseTarget(4 | 16), TargetClientRoot);
}

TEST(TargetFlags, ClientTargetsAreEmptyWithoutAClientFolder) {
    char out[260];
    ComposeClientTarget(TargetClientProgram, "C:\\Corvane", out, sizeof out);
    EXPECT_STREQ(out, "C:\\Corvane\\Program");
    ComposeClientTarget(TargetClientRoot, "C:\\Corvane", out, sizeof out);
    EXPECT_STREQ(out, "C:\\Corvane");
    ComposeClientTarget(TargetClientData, "C:\\Corvane\\data", out, sizeof out);
    EXPECT_STREQ(out, "C:\\Corvane\\data");
    // Not "\Program", the root of whatever drive is current.
    ComposeClientTarget(TargetClientProgram, "", out, sizeof out);
    EXPECT_STREQ(out, "");
}

TEST(ClientFolder, CutsALastProgramPartAndAddsData) {
    struct {
        const char* path;
        int data;
        const char* expected;
    } cases[] = {
        {"C:\\Corvane\\Program", 0, "C:\\Corvane"},
        {"C:\\Corvane\\PROGRAM", 1, "C:\\Corvane\\data"},
        {"C:\\Corvane\\Program\\", 0, "C:\\Corvane"},  // same folder, trailing "\"
        {"C:\\Corvane", 0, "C:\\Corvane"},
        {"C:\\Corvane", 1, "C:\\Corvane\\data"},
        {"C:\\Program\\Corvane", 0, "C:\\Program\\Corvane"},  // only the last part
        {"C:\\Corvane\\Programs", 0, "C:\\Corvane\\Programs"},
        {"Program", 0, "Program"},
    };
    for (const auto& c : cases) {
        char path[260];
        CopyTruncated(path, sizeof path, c.path);
        ShapeClientFolder(path, sizeof path, c.data);
        EXPECT_STREQ(path, c.expected) << c.path;
    }
    char path[11] = "C:\\a\\b";
    ShapeClientFolder(path, sizeof path, 1);  // "\data" does not fit: cut
    EXPECT_STREQ(path, "C:\\a\\b\\dat");

    char data[260] = "D:\\Data";
    EnsureTrailingBackslash(data, sizeof data);
    EXPECT_STREQ(data, "D:\\Data\\");
    EnsureTrailingBackslash(data, sizeof data);
    EXPECT_STREQ(data, "D:\\Data\\");
}

TEST(Commands, RunBlanksTheTrayRequestAndEverythingAfterIt) {
    char out[300];
    BuildRunCommand("C:\\dl\\setup.exe", nullptr, "/tray /AskForRestart", out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe      ");  // the space, then five blanks
    BuildRunCommand("C:\\dl\\setup.exe", "/S", "-inf x.inf /tray", out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /S -inf x.inf      ");
    BuildRunCommand("C:\\dl\\setup.exe", "/S", "/NoIntervention", out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /S /NoIntervention");
    BuildRunCommand("C:\\dl\\setup.exe", "/S", "", out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /S");
    BuildRunCommand("C:\\dl\\setup.exe", nullptr, nullptr, out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe");
    // Only with a command line of its own is the command searched; the
    // search is case-sensitive, like the switch itself.
    BuildRunCommand("C:\\dl\\setup.exe", "/tray", "", out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /tray");
    BuildRunCommand("C:\\dl\\setup.exe", "/TRAY", "-is", out, sizeof out);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /TRAY -is");
}

TEST(Commands, ProgramPathsWithBlanksAreQuoted) {
    char out[300];
    BuildRunCommand("C:\\Documents and Settings\\dl\\setup.exe", "/S", "", out, sizeof out);
    EXPECT_STREQ(out, "\"C:\\Documents and Settings\\dl\\setup.exe\" /S");
    BuildPackageSetupCommand("C:\\Temp Files\\INS1.tmp", nullptr, "", out, sizeof out);
    EXPECT_STREQ(out, "\"C:\\Temp Files\\INS1.tmp\\setup.exe\"");
}

TEST(Commands, PackageSetupGetsArgumentsAndTheCommandLine) {
    char out[300];
    BuildPackageSetupCommand("C:\\T\\INS1.tmp", "/q", "/tray -is", out, sizeof out);
    EXPECT_STREQ(out, "C:\\T\\INS1.tmp\\setup.exe /q /tray -is");
    BuildPackageSetupCommand("C:\\T\\INS1.tmp", nullptr, "", out, sizeof out);
    EXPECT_STREQ(out, "C:\\T\\INS1.tmp\\setup.exe");
}

TEST(Commands, LongCommandsAreCutToTheBuffer) {
    char out[24];
    memset(out, 'x', sizeof out);
    BuildRunCommand("C:\\dl\\setup.exe", "/S /Q /R", "/NoIntervention", out, 20);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /S ");
    EXPECT_EQ(out[20], 'x');
    // A "/tray" that was cut in half is not there to blank.
    BuildRunCommand("C:\\dl\\setup.exe", nullptr, "/tray", out, 19);
    EXPECT_STREQ(out, "C:\\dl\\setup.exe /t");
}

TEST(ComQueue, TypesByExtensionAndSubkeyByName) {
    EXPECT_STREQ(ComRegistrationType("C:\\P\\a.exe"), "ComEXE");
    EXPECT_STREQ(ComRegistrationType("C:\\P\\a.dll"), "ComDLL");
    EXPECT_STREQ(ComRegistrationType("C:\\P\\ctl.ocx"), "ComDLL");
    EXPECT_STREQ(ComRegistrationType("C:\\P\\CTL.OCX"), "ComDLL");
    EXPECT_EQ(ComRegistrationType("C:\\P\\a.txt"), nullptr);
    EXPECT_EQ(ComRegistrationType("C:\\P\\a.dll.bak"), nullptr);
    EXPECT_EQ(ComRegistrationType("C:\\P\\noext"), nullptr);
    EXPECT_EQ(ComRegistrationType("C:\\P.dll\\noext"), nullptr);

    char out[260];
    ComServerSubkey("C:\\Corvane\\Program\\ctl.ocx", out, sizeof out);
    EXPECT_STREQ(out, "\\ctl.ocx");
    ComServerSubkey("ctl.ocx", out, sizeof out);
    EXPECT_STREQ(out, "\\ctl.ocx");
}

TEST(RegistryReference, SectionAloneOrFromAFileBesideTheSetupFile) {
    char section[80], file[260];
    EXPECT_EQ(SplitRegistryReference("Reg1", "C:\\dl\\setup.inf", section, sizeof section, file,
                                     sizeof file),
              1);
    EXPECT_STREQ(section, "Reg1");
    EXPECT_STREQ(file, "C:\\dl\\setup.inf");

    EXPECT_EQ(SplitRegistryReference("Reg2@more.ini", "C:\\dl\\setup.inf", section,
                                     sizeof section, file, sizeof file),
              1);
    EXPECT_STREQ(section, "Reg2");
    EXPECT_STREQ(file, "C:\\dl\\more.ini");

    EXPECT_EQ(SplitRegistryReference("Reg3@sub\\y.ini", "C:\\dl\\setup.inf", section,
                                     sizeof section, file, sizeof file),
              1);
    EXPECT_STREQ(file, "C:\\dl\\sub\\y.ini");
    // Values come only from files that came with the setup.
    for (const char* elsewhere : {"Reg3@D:\\x\\y.ini", "Reg3@\\\\srv\\s\\y.ini", "Reg3@..\\y.ini",
                                  "Reg3@/y.ini", "Reg3@sub\\..\\..\\y.ini"}) {
        EXPECT_EQ(SplitRegistryReference(elsewhere, "C:\\dl\\setup.inf", section, sizeof section,
                                         file, sizeof file),
                  0)
            << elsewhere;
        EXPECT_STREQ(file, "") << elsewhere;
    }
    SplitRegistryReference("Reg4@", "C:\\dl\\setup.inf", section, sizeof section, file,
                           sizeof file);
    EXPECT_STREQ(section, "Reg4");
    EXPECT_STREQ(file, "C:\\dl\\setup.inf");
    // Only the first "@" splits.
    SplitRegistryReference("R@a@b.ini", "setup.inf", section, sizeof section, file, sizeof file);
    EXPECT_STREQ(section, "R");
    EXPECT_STREQ(file, "a@b.ini");

    EXPECT_EQ(SplitRegistryReference("@more.ini", "C:\\dl\\setup.inf", section, sizeof section,
                                     file, sizeof file),
              0);
    EXPECT_EQ(SplitRegistryReference("", "C:\\dl\\setup.inf", section, sizeof section, file,
                                     sizeof file),
              0);
}

struct SplitResult {
    RegistryLineKind kind;
    RegistryLine line;
    char text[200];
};

// Splits into `r`, whose pointers point into its own copy of the text.
void Split(const char* text, SplitResult* r) {
    CopyTruncated(r->text, sizeof r->text, text);
    r->kind = SplitRegistryLine(r->text, &r->line);
}

RegistryLineKind KindOf(const char* text) {
    SplitResult r;
    Split(text, &r);
    return r.kind;
}

TEST(RegistryLines, DwordAndStringValues) {
    SplitResult r;
    Split("HKLM,Software\\Vendor,Count=n,42", &r);
    ASSERT_EQ(r.kind, RegistryLineValue);
    EXPECT_EQ(r.line.root, RootLocalMachine);
    EXPECT_STREQ(r.line.subkey, "Software\\Vendor");
    EXPECT_STREQ(r.line.valueName, "Count");
    EXPECT_EQ(r.line.isDword, 1);
    EXPECT_STREQ(r.line.data, "42");

    Split("hkcu,Software\\V,Greeting=s,hello, world=1", &r);
    ASSERT_EQ(r.kind, RegistryLineValue);
    EXPECT_EQ(r.line.root, RootCurrentUser);
    EXPECT_EQ(r.line.isDword, 0);
    EXPECT_STREQ(r.line.data, "hello, world=1");  // the rest, commas included

    Split("HKCR,.cvt,=string,cvtfile", &r);  // the key's default value
    ASSERT_EQ(r.kind, RegistryLineValue);
    EXPECT_EQ(r.line.root, RootClassesRoot);
    EXPECT_STREQ(r.line.valueName, "");

    Split("Hku,.DEFAULT\\X,V,with,commas=Number,7", &r);
    ASSERT_EQ(r.kind, RegistryLineValue);
    EXPECT_EQ(r.line.root, RootUsers);
    EXPECT_STREQ(r.line.valueName, "V,with,commas");
    EXPECT_EQ(r.line.isDword, 1);

    Split("HKLM,K,V=s", &r);  // no data: an empty string
    ASSERT_EQ(r.kind, RegistryLineValue);
    EXPECT_STREQ(r.line.data, "");
}

TEST(RegistryLines, SkippedAndRefusedLines) {
    EXPECT_EQ(KindOf(";HKLM,K,V=s,x"), RegistryLineSkipped);
    EXPECT_EQ(KindOf("HKLM,K,V"), RegistryLineSkipped);      // no "="
    EXPECT_EQ(KindOf("HKLM,K=s,x"), RegistryLineSkipped);    // one comma
    EXPECT_EQ(KindOf("HKLM=s,x,y"), RegistryLineSkipped);    // commas after "="
    EXPECT_EQ(KindOf("HKXX,K,V=n,1"), RegistryLineBadRoot);  // stops the import
    EXPECT_EQ(KindOf("HKEY_LOCAL_MACHINE,K,V=n,1"), RegistryLineBadRoot);
    EXPECT_EQ(KindOf(",K,V=n,1"), RegistryLineBadRoot);
}

TEST(RegistryLines, DecimalDwords) {
    unsigned v = 99;
    EXPECT_EQ(ParseDecimalDword("42", &v), 1);
    EXPECT_EQ(v, 42u);
    EXPECT_EQ(ParseDecimalDword(" 4294967295 ", &v), 1);
    EXPECT_EQ(v, 4294967295u);
    EXPECT_EQ(ParseDecimalDword("-1", &v), 1);
    EXPECT_EQ(v, 0xffffffffu);
    const char* bad[] = {"", " ", "abc", "12abc", "4294967296", "0x10", "1 2", "-"};
    for (const char* text : bad) {
        v = 99;
        EXPECT_EQ(ParseDecimalDword(text, &v), 0) << text;
        EXPECT_EQ(v, 0u) << text;  // written as 0
    }
}

}  // namespace
