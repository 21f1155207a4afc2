// Reading a setup description natively, line by line, the way the system's
// private-profile functions do: comments start with ";", a header is
// "[name]", every other line is "key=value" or a bare key.
#include "ini_file.h"

#include <fstream>
#include <sstream>

#include "base/ascii_case.h"

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t start = text.find_first_not_of(blanks);
    if (start == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(blanks);
    return text.substr(start, end - start + 1);
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && EqualNoCase(a.data(), a.size(), b.c_str());
}

bool IniFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad()) return false;
    Parse(text.str());
    return true;
}

void IniFile::Parse(const std::string& text) {
    sections.clear();
    size_t pos = 0;
    int number = 0;
    // A byte order mark before the first line is no part of it.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++number;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            IniSection section;
            section.number = number;
            section.name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            sections.push_back(section);
            continue;
        }
        if (sections.empty()) continue;  // before any header: read by nobody
        IniLine entry;
        entry.number = number;
        const size_t equals = line.find('=');
        entry.hasEquals = equals != std::string::npos;
        entry.key = Trim(line.substr(0, equals));
        entry.raw = entry.hasEquals ? Trim(line.substr(equals + 1)) : std::string();
        entry.value = entry.raw;
        if (entry.value.size() >= 2 && (entry.value[0] == '"' || entry.value[0] == '\'') &&
            entry.value.back() == entry.value[0])
            entry.value = entry.value.substr(1, entry.value.size() - 2);
        sections.back().lines.push_back(entry);
    }
}

const IniSection* IniFile::Find(const std::string& name) const {
    for (const IniSection& section : sections)
        if (SameName(section.name, name)) return &section;
    return nullptr;
}

const IniLine* IniFile::FindKey(const IniSection* section, const std::string& key) {
    if (!section) return nullptr;
    for (const IniLine& line : section->lines)
        if (line.hasEquals && SameName(line.key, key)) return &line;
    return nullptr;
}

std::string IniFile::Listing(const IniSection& section) {
    std::string entries;
    for (const IniLine& line : section.lines) {
        entries += line.key;
        if (line.hasEquals) entries += "=" + line.raw;
        entries += '\0';
    }
    return entries;
}
