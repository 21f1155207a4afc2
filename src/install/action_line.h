// The rules of install action lines and registry lines that need no system
// call: splitting the lines, choosing the target folder from the target
// flags, building the command lines of started programs, and the names the
// COM registration queue uses.
#pragma once

#include "base/text_copy.h"

enum ActionVerb {
    VerbIsPackage,
    VerbRun,
    VerbPackage,
    VerbCopy,
    VerbShell,  // any other word: a verb of the shell
};

// One action line ("verb,file,arguments"), cut apart in its own copy.
struct ActionLine {
    char text[512];
    char* verb;       // blanks around it removed
    char* file;       // blanks around it removed
    char* arguments;  // the rest of the line, commas included; null when absent
    ActionVerb kind;
};

// Splits `line` (cut to 511 characters). Returns 0 when the verb or the file
// is missing, or the file is no safe name (absolute, a drive, a ".." part:
// see IsSafeFileName): such a line does nothing at all.
int SplitActionLine(const char* line, ActionLine* out);

// The target flags of "package" and "copy": the arguments read as a decimal
// number (blanks first allowed, reading stops at the first non-digit); 0 when
// absent or not a number.
enum TargetFlag {
    TargetWindowsFlag = 1,
    TargetSystemFlag = 2,
    TargetClientRootFlag = 4,
    TargetDataFlag = 8,
    TargetComFlag = 16,
};
int ParseTargetFlags(const char* arguments);

enum TargetKind {
    TargetWindows,        // the Windows directory
    TargetSystem,         // the System directory
    TargetClientData,     // the client's data folder
    TargetClientRoot,     // the client's folder itself
    TargetClientProgram,  // the client's folder + "\Program"
};
TargetKind ChooseTarget(int flags);
// Writes the target folder for a client kind, given the client's folder as
// found in the registry; empty when the client's folder is empty (the
// action then does nothing rather than aiming at the root of a drive).
void ComposeClientTarget(TargetKind kind, const char* clientFolder, char* out, int size);

// The client's folder as read from its App Paths "Path": a trailing "\" is
// dropped, a last part "program" (any case) is cut off, and with `dataFlag`
// "\data" is appended.
void ShapeClientFolder(char* path, int size, int dataFlag);
// Appends "\" unless the text already ends with one (cut to size).
void EnsureTrailingBackslash(char* path, int size);

// The program path as it goes on a command line: in quotes when it holds a
// blank and is not quoted already, unchanged otherwise.
void AppendProgramPath(char* out, int size, const char* path);

// "run": the program, " " and the arguments when there are any, " " and the
// program's own command line when that is not empty; then the first "/tray"
// in the whole command and everything after it become five blanks, so a
// setup program never starts waiting in the tray.
void BuildRunCommand(const char* sourcePath, const char* arguments, const char* commandLine,
                     char* out, int size);
// "ispackage": "<folder>\setup.exe", then the arguments and the command line
// in the same way (without the "/tray" rule).
void BuildPackageSetupCommand(const char* folder, const char* arguments, const char* commandLine,
                              char* out, int size);
// Overwrites the first "/tray" and everything after it by five blanks.
void BlankTrayRequest(char* command, int size);

// COM servers queued for registration by the client: "ComEXE" for ".exe",
// "ComDLL" for ".dll" and ".ocx" (any case), null for anything else.
const char* ComRegistrationType(const char* path);
// The name part of a path, from its last "\" on (the "\" included); the
// whole path after a "\" when it has none.
void ComServerSubkey(const char* path, char* out, int size);

// A registry line "section" or "section@file". The file is taken beside the
// component's setup file. Returns 0 when the section name is empty or the
// file is no safe name (absolute, a drive, a ".." part).
int SplitRegistryReference(const char* line, const char* setupFile, char* section, int sectionSize,
                           char* file, int fileSize);

enum RegistryRoot {
    RootClassesRoot,
    RootCurrentUser,
    RootLocalMachine,
    RootUsers,
};

enum RegistryLineKind {
    RegistryLineSkipped,  // comment, no "=", or fewer than two commas before it
    RegistryLineValue,
    RegistryLineBadRoot,  // a root other than the four: the import stops
};

// One line "ROOT,SUBKEY,VALUENAME=TYPE,DATA" of a registry section, cut
// apart in place.
struct RegistryLine {
    RegistryRoot root;
    char* subkey;
    char* valueName;  // may be empty: the key's default value
    int isDword;      // TYPE begins with "n" or "N"
    char* data;       // the rest of the line, commas included; may be empty
};
RegistryLineKind SplitRegistryLine(char* line, RegistryLine* out);

// A decimal DWORD: optional blanks, an optional sign, digits, optional
// blanks. Returns 0 (and *value 0) for anything else or when out of range.
int ParseDecimalDword(const char* text, unsigned* value);

