// cvpack check: a setup description read the way the program reads it, with
// one line for each thing the program would refuse or ignore; online, the
// part lists and files it would fetch, compared with their fingerprints.
#pragma once
#include <cstdarg>
#include <string>
#include <vector>

#include "ini_file.h"

#if defined(__GNUC__)
#define CVPACK_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define CVPACK_FORMAT(f, a)
#endif

// One place a component is fetched from: "site" or a mirror "site<n>".
struct FetchSite {
    const IniLine* line;  // the site's own line
    std::string key;      // "site", "site2", ...
    std::string host;     // the site text as the program reads it
    std::string user;
    std::string password;  // as written in the setup description
};

// What the check knows of one component that passed the offline rules.
struct CheckedComponent {
    const IniSection* section;
    int protocol;
    std::string sourceDir;
    std::vector<std::string> files;
    std::vector<FetchSite> sites;
    // Fingerprint per file (64 digits) and the line that pins it; empty
    // when the file is not pinned or its pin is not a fingerprint.
    std::vector<std::string> pins;
    std::vector<const IniLine*> pinLines;
};

class SetupCheck {
public:
    explicit SetupCheck(const std::string& path);
    // Exit status: 0 nothing wrong, 1 problems found, 2 unreadable file.
    int Run(bool online);

    // One line of the report; problems count against the exit status,
    // notes do not. `line` may be null (then the section's header counts).
    void Problem(const IniSection* section, const IniLine* line, const std::string& key, const char* format,
                 ...) CVPACK_FORMAT(5, 6);
    void Note(const IniSection* section, const IniLine* line, const std::string& key, const char* format, ...)
        CVPACK_FORMAT(5, 6);

private:
    void Emit(bool problem, const IniSection* section, const IniLine* line, const std::string& key,
              const char* format, va_list args);
    void PrintHeld();
    void CheckDuplicateSections();
    void CheckDefs();
    void LoadStringSection(const IniLine* line, const std::string& name);
    void CheckComponent(const IniSection& section);
    void CheckKeys(const IniSection& section, int place);
    void CheckReferences(const IniSection& section, const IniLine& line);
    std::string Value(const IniSection& section, const std::string& key, const char* defaultValue);
    void CheckInteger(const IniSection& section, const IniLine& line);
    void CheckFlag(const IniSection& section, const IniLine* line, const char* onlyValue, const char* meaning);
    void CheckActions(const IniSection& section, int rounds);
    void CheckRegistry(const IniSection& section, const IniLine& line);
    void CheckRegistryLines(const IniSection& target, const std::string& where);
    void CheckPasswords(const IniSection& section, int protocol);
    void CheckSites(CheckedComponent& component);
    void CheckPins(CheckedComponent& component);
    void CheckLocalFiles(const CheckedComponent& component);
    void CheckUnusedSections();

    // Online (check_online.cpp).
    void CheckOnline(const CheckedComponent& component);
    void CheckPartLists(const CheckedComponent& component);
    void CheckFtpFiles(const CheckedComponent& component);

    std::string path;
    std::string directory;  // of the setup description, "" or ending in "/"
    IniFile ini;
    std::vector<const IniSection*> used;
    std::vector<CheckedComponent> components;
    struct HeldReport {
        int line;
        std::string text;
    };
    bool holding;
    std::vector<HeldReport> held;
    int problems;
    int notChecked;
};
