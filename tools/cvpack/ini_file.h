// A setup description as the system's private-profile functions read it,
// for the publisher's check: sections and "key=value" lines with their line
// numbers, names matched without regard to case, the first of two equal
// names being the one that counts.
#pragma once
#include <string>
#include <vector>

struct IniLine {
    int number;         // line number in the file, from 1
    std::string key;    // blanks around it removed
    std::string value;  // blanks around it removed, one pair of quotes too
    std::string raw;    // the value as the section's listing gives it
    bool hasEquals;
};

struct IniSection {
    int number;  // line of its header
    std::string name;
    std::vector<IniLine> lines;
};

class IniFile {
public:
    // False when the file cannot be read.
    bool Load(const std::string& path);
    void Parse(const std::string& text);
    // The first section of that name, or null.
    const IniSection* Find(const std::string& name) const;
    // The first line of the section with that key, or null.
    static const IniLine* FindKey(const IniSection* section, const std::string& key);
    // The section's lines as the listing of a section gives them:
    // "key=value" texts, each ending in a NUL.
    static std::string Listing(const IniSection& section);

    std::vector<IniSection> sections;
};

bool SameName(const std::string& a, const std::string& b);
