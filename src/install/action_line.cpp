// Install action lines and registry lines: splitting, target folders,
// command lines and COM queue names. No system calls here, so every rule can
// be tested natively.
#include "install/action_line.h"

#include <string.h>

#include "base/ascii_case.h"
#include "setup/component.h"
#include "setup/profile.h"

namespace {

const char kRestOfLine[] = "\x1b";  // no separator that can occur in a line

int IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char* TrimBlanks(char* text) {
    while (IsBlank(*text)) ++text;
    size_t n = strlen(text);
    while (n > 0 && IsBlank(text[n - 1])) text[--n] = 0;
    return text;
}

}  // namespace


int SplitActionLine(const char* line, ActionLine* out) {
    CopyTruncated(out->text, sizeof out->text, line ? line : "");
    char* cursor = out->text;
    char* verb = NextToken(&cursor, ",");
    char* file = verb ? NextToken(&cursor, ",") : nullptr;
    out->arguments = file ? NextToken(&cursor, kRestOfLine) : nullptr;
    out->verb = verb ? TrimBlanks(verb) : nullptr;
    out->file = file ? TrimBlanks(file) : nullptr;
    out->kind = VerbShell;
    if (!out->verb || !*out->verb || !out->file || !*out->file) return 0;
    // The file lies in the component's source folder, and a "copy" writes
    // it under the same name into its target: neither may lead elsewhere.
    if (!IsSafeFileName(out->file)) return 0;
    if (EqualNoCase(out->verb, "ispackage"))
        out->kind = VerbIsPackage;
    else if (EqualNoCase(out->verb, "run"))
        out->kind = VerbRun;
    else if (EqualNoCase(out->verb, "package"))
        out->kind = VerbPackage;
    else if (EqualNoCase(out->verb, "copy"))
        out->kind = VerbCopy;
    return 1;
}

int ParseTargetFlags(const char* arguments) {
    if (!arguments) return 0;
    while (IsBlank(*arguments)) ++arguments;
    int negative = 0;
    if (*arguments == '-' || *arguments == '+') negative = *arguments++ == '-';
    unsigned long long value = 0;
    for (; *arguments >= '0' && *arguments <= '9'; ++arguments) {
        value = value * 10 + (unsigned)(*arguments - '0');
        if (value > 0x7fffffffu) return 0;  // not a number of flags
    }
    return negative ? -(int)value : (int)value;
}

TargetKind ChooseTarget(int flags) {
    if (flags & TargetWindowsFlag) return TargetWindows;
    if (flags & TargetSystemFlag) return TargetSystem;
    if (flags & TargetDataFlag) return TargetClientData;
    if (flags & TargetClientRootFlag) return TargetClientRoot;
    return TargetClientProgram;
}

void ComposeClientTarget(TargetKind kind, const char* clientFolder, char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    if (!clientFolder || !*clientFolder) return;
    CopyTruncated(out, size, clientFolder);
    if (kind == TargetClientProgram) AppendTruncated(out, size, "\\Program");
}

void ShapeClientFolder(char* path, int size, int dataFlag) {
    size_t n = strnlen(path, (size_t)size);
    // A "Path" written with a trailing "\" names the same folder.
    while (n > 0 && path[n - 1] == '\\') path[--n] = 0;
    char* last = strrchr(path, '\\');
    if (last && EqualNoCase(last + 1, "program")) *last = 0;
    if (dataFlag) AppendTruncated(path, size, "\\data");
}

void EnsureTrailingBackslash(char* path, int size) {
    size_t n = strnlen(path, (size_t)size);
    if (n == 0 || path[n - 1] != '\\') AppendTruncated(path, size, "\\");
}

void AppendProgramPath(char* out, int size, const char* path) {
    if (strchr(path, ' ') && path[0] != '"') {
        // Unquoted, a blank would let the system guess a shorter program
        // name ("C:\Documents.exe") and split the program's own argv[0].
        AppendTruncated(out, size, "\"");
        AppendTruncated(out, size, path);
        AppendTruncated(out, size, "\"");
    } else {
        AppendTruncated(out, size, path);
    }
}

void BlankTrayRequest(char* command, int size) {
    char* tray = strstr(command, "/tray");
    if (!tray) return;
    *tray = 0;
    AppendTruncated(command, size, "     ");
}

void BuildRunCommand(const char* sourcePath, const char* arguments, const char* commandLine,
                     char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    AppendProgramPath(out, size, sourcePath);
    if (arguments && *arguments) {
        AppendTruncated(out, size, " ");
        AppendTruncated(out, size, arguments);
    }
    if (commandLine && *commandLine) {
        AppendTruncated(out, size, " ");
        AppendTruncated(out, size, commandLine);
        BlankTrayRequest(out, size);
    }
}

void BuildPackageSetupCommand(const char* folder, const char* arguments, const char* commandLine,
                              char* out, int size) {
    if (size <= 0) return;
    char program[300];
    CopyTruncated(program, sizeof program, folder);
    AppendTruncated(program, sizeof program, "\\setup.exe");
    out[0] = 0;
    AppendProgramPath(out, size, program);
    if (arguments && *arguments) {
        AppendTruncated(out, size, " ");
        AppendTruncated(out, size, arguments);
    }
    if (commandLine && *commandLine) {
        AppendTruncated(out, size, " ");
        AppendTruncated(out, size, commandLine);
    }
}

const char* ComRegistrationType(const char* path) {
    const char* dot = strrchr(path, '.');
    if (!dot) return nullptr;
    if (EqualNoCase(dot, ".exe")) return "ComEXE";
    if (EqualNoCase(dot, ".dll") || EqualNoCase(dot, ".ocx")) return "ComDLL";
    return nullptr;
}

void ComServerSubkey(const char* path, char* out, int size) {
    const char* name = strrchr(path, '\\');
    if (name) {
        CopyTruncated(out, size, name);
    } else {
        CopyTruncated(out, size, "\\");
        AppendTruncated(out, size, path);
    }
}

int SplitRegistryReference(const char* line, const char* setupFile, char* section, int sectionSize,
                           char* file, int fileSize) {
    const char* at = strchr(line, '@');
    if (!at) {
        CopyTruncated(section, sectionSize, line);
        CopyTruncated(file, fileSize, setupFile);
        return section[0] != 0;
    }
    int length = (int)(at - line);
    if (length >= sectionSize) length = sectionSize - 1;
    memcpy(section, line, (size_t)length);
    section[length] = 0;
    const char* name = at + 1;
    if (!*name) {
        CopyTruncated(file, fileSize, setupFile);
    } else if (!IsSafeFileName(name)) {
        // Registry values come from files that came with the setup only.
        section[0] = 0;
        file[0] = 0;
        return 0;
    } else {
        // A bare name would be looked up in the Windows directory by the
        // profile functions; the file that names it lies beside the setup
        // description.
        CopyTruncated(file, fileSize, setupFile);
        char* slash = strrchr(file, '\\');
        char* other = strrchr(file, '/');
        if (other > slash) slash = other;
        if (slash)
            slash[1] = 0;
        else
            file[0] = 0;
        AppendTruncated(file, fileSize, name);
    }
    return section[0] != 0;
}

RegistryLineKind SplitRegistryLine(char* line, RegistryLine* out) {
    if (line[0] == ';') return RegistryLineSkipped;
    char* equals = strchr(line, '=');
    if (!equals) return RegistryLineSkipped;
    char* firstComma = strchr(line, ',');
    if (!firstComma || firstComma > equals) return RegistryLineSkipped;
    char* secondComma = strchr(firstComma + 1, ',');
    if (!secondComma || secondComma > equals) return RegistryLineSkipped;
    *equals = 0;
    *firstComma = 0;
    *secondComma = 0;

    const char* root = TrimBlanks(line);
    if (EqualNoCase(root, "HKCR"))
        out->root = RootClassesRoot;
    else if (EqualNoCase(root, "HKCU"))
        out->root = RootCurrentUser;
    else if (EqualNoCase(root, "HKLM"))
        out->root = RootLocalMachine;
    else if (EqualNoCase(root, "HKU"))
        out->root = RootUsers;
    else
        return RegistryLineBadRoot;
    out->subkey = firstComma + 1;
    out->valueName = secondComma + 1;

    char* type = equals + 1;
    char* typeEnd = strchr(type, ',');
    if (typeEnd) {
        *typeEnd = 0;
        out->data = typeEnd + 1;
    } else {
        out->data = type + strlen(type);
    }
    type = TrimBlanks(type);
    out->isDword = type[0] == 'n' || type[0] == 'N';
    return RegistryLineValue;
}

int ParseDecimalDword(const char* text, unsigned* value) {
    *value = 0;
    while (IsBlank(*text)) ++text;
    int negative = 0;
    if (*text == '-' || *text == '+') negative = *text++ == '-';
    if (*text < '0' || *text > '9') return 0;
    unsigned long long n = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        n = n * 10 + (unsigned)(*text - '0');
        if (n > 0xffffffffull) return 0;
    }
    while (IsBlank(*text)) ++text;
    if (*text) return 0;
    if (negative) {
        if (n > 0x80000000ull) return 0;
        *value = (unsigned)(0u - (unsigned)n);
    } else {
        *value = (unsigned)n;
    }
    return 1;
}
