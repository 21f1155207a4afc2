// cvpack check: the offline rules. The setup description is read with the
// program's own pieces (its key table, the string cache and %name%
// substitution, the protocol names, the file-name rule, the action and
// registry line parsers), so that what this reports is what the program
// would do.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "check.h"
#include "cvpack.h"
#include "http/codec.h"
#include "http/sha256.h"
#include "install/action_line.h"
#include "install/install_rules.h"
#include "setup/component.h"
#include "setup/profile.h"
#include "setup/setup_keys.h"

namespace {

// The program loads a string section into a buffer of this many bytes.
const size_t kStringSectionLimit = 2048 - 2;
// The longest section name a component record holds.
const size_t kSectionNameLimit = 71;
// Variable names longer than this never match.
const size_t kVariableNameLimit = 127;

const char* const kProtocolNames[] = {"ftp", "copy", "cdrom", "selfext", "http"};

std::vector<std::string> Tokens(const std::string& list) {
    std::vector<std::string> tokens;
    std::vector<char> text(list.begin(), list.end());
    text.push_back('\0');
    char* cursor = text.data();
    while (char* token = NextToken(&cursor, ", ")) tokens.push_back(token);
    return tokens;
}

std::string KeyText(SetupKeyId id, int number) {
    if (!number) return SetupKeyName(id);
    char name[64];
    NumberedKeyName(id, number, name, sizeof name);
    return name;
}

bool IsWholeNumber(const std::string& text) {
    size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// What a whole-number reader makes of a text: the digits it begins with.
long long LeadingNumber(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000000000LL; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

}  // namespace

SetupCheck::SetupCheck(const std::string& path) : path(path), holding(true), problems(0), notChecked(0) {
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) directory = path.substr(0, slash + 1);
}

void SetupCheck::Emit(bool problem, const IniSection* section, const IniLine* line, const std::string& key,
                      const char* format, va_list args) {
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    const int number = line ? line->number : section ? section->number : 0;
    std::string where = path;
    if (number) where += ":" + std::to_string(number);
    where += ":";
    if (section) where += " [" + section->name + "]";
    if (!key.empty()) where += " " + key;
    const std::string report = where + ": " + (problem ? "" : "note: ") + text + "\n";
    if (problem) ++problems;
    if (holding)
        held.push_back({number, report});
    else
        std::fputs(report.c_str(), stdout);
}

// The offline findings come in the order of the file's lines.
void SetupCheck::PrintHeld() {
    std::stable_sort(held.begin(), held.end(),
                     [](const HeldReport& a, const HeldReport& b) { return a.line < b.line; });
    for (const HeldReport& report : held) std::fputs(report.text.c_str(), stdout);
    held.clear();
    holding = false;
    std::fflush(stdout);
}

void SetupCheck::Problem(const IniSection* section, const IniLine* line, const std::string& key,
                         const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(true, section, line, key, format, args);
    va_end(args);
}

void SetupCheck::Note(const IniSection* section, const IniLine* line, const std::string& key, const char* format,
                      ...) {
    va_list args;
    va_start(args, format);
    Emit(false, section, line, key, format, args);
    va_end(args);
}

std::string SetupCheck::Value(const IniSection& section, const std::string& key, const char* defaultValue) {
    const IniLine* line = IniFile::FindKey(&section, key);
    const std::string& text = line ? line->value : std::string(defaultValue);
    std::vector<char> out(text.size() * 4 + 4096);
    ExpandVariables(text.c_str(), out.data(), static_cast<int>(out.size()));
    return out.data();
}

// %name% references the way the substitution reads them.
void SetupCheck::CheckReferences(const IniSection& section, const IniLine& line) {
    const std::string& v = line.value;
    for (size_t i = 0; i < v.size();) {
        if (v[i] != '%') {
            ++i;
            continue;
        }
        if (i + 1 < v.size() && v[i + 1] == '%') {
            i += 2;
            continue;
        }
        const size_t close = v.find('%', i + 1);
        if (close == std::string::npos) {
            Problem(&section, &line, line.key,
                    "\"%s\" has no closing %%: the program drops it and the rest of the value (write %%%% for a "
                    "%% sign)",
                    v.substr(i).c_str());
            return;
        }
        const std::string name = v.substr(i + 1, close - i - 1);
        if (name.size() > kVariableNameLimit || !FindVariable(name.c_str()))
            Problem(&section, &line, line.key,
                    "%%%s%% is defined in no string section: the program reads it as nothing", name.c_str());
        i = close + 1;
    }
}

void SetupCheck::CheckDuplicateSections() {
    for (size_t i = 0; i < ini.sections.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (SameName(ini.sections[i].name, ini.sections[j].name)) {
                Problem(&ini.sections[i], nullptr, "",
                        "the section is given again (first at line %d): the program reads only the first",
                        ini.sections[j].number);
                break;
            }
}

// Unknown keys, lines without "=", keys given twice, and the integers.
void SetupCheck::CheckKeys(const IniSection& section, int place) {
    for (size_t i = 0; i < section.lines.size(); ++i) {
        const IniLine& line = section.lines[i];
        if (!line.hasEquals) {
            Problem(&section, &line, line.key, "no \"=\": the program reads nothing from this line");
            continue;
        }
        int number = 0;
        const int id = FindSetupKey(static_cast<SetupKeyPlace>(place), line.key.c_str(), &number);
        if (id < 0) {
            char nearest[64];
            NearestSetupKey(static_cast<SetupKeyPlace>(place), line.key.c_str(), nearest, sizeof nearest);
            Problem(&section, &line, line.key, "unknown key: the program never reads it (nearest known key: %s)",
                    nearest);
            continue;
        }
        bool repeated = false;
        for (size_t j = 0; j < i && !repeated; ++j) {
            const IniLine& earlier = section.lines[j];
            if (earlier.hasEquals && SameName(earlier.key, line.key)) {
                Problem(&section, &line, line.key,
                        "given again (first at line %d): the program reads only the first", earlier.number);
                repeated = true;
            }
        }
        if (repeated) continue;
        if (kSetupKeys[id].kind == KindInteger)
            CheckInteger(section, line);
        else
            CheckReferences(section, line);
    }
}

void SetupCheck::CheckInteger(const IniSection& section, const IniLine& line) {
    if (line.value.empty()) {
        Problem(&section, &line, line.key, "empty: give a whole number or leave the key out");
    } else if (!IsWholeNumber(line.value)) {
        Problem(&section, &line, line.key,
                "\"%s\" is not a whole number: the program reads %lld (numbers are read without %%name%% "
                "substitution)",
                line.value.c_str(), LeadingNumber(line.value));
    }
}

void SetupCheck::CheckFlag(const IniSection& section, const IniLine* line, const char* onlyValue,
                           const char* meaning) {
    if (!line) return;
    const std::string value = Value(section, line->key, "");
    if (value != "TRUE" && value != "FALSE")
        Problem(&section, line, line->key, "\"%s\" is neither TRUE nor FALSE: only %s, in capitals, %s",
                value.c_str(), onlyValue, meaning);
}

void SetupCheck::LoadStringSection(const IniLine* line, const std::string& name) {
    const IniSection* section = ini.Find(name);
    const IniSection* defs = ini.Find(kDefsSection);
    if (!section) {
        Problem(defs, line, line->key, "string section [%s] does not exist: its variables are undefined",
                name.c_str());
        return;
    }
    used.push_back(section);
    std::string listing = IniFile::Listing(*section);
    if (listing.size() > kStringSectionLimit) {
        // The program reads the section into a buffer of its own size: the
        // entries beyond it are cut off or lost.
        size_t at = 0;
        for (const IniLine& entry : section->lines) {
            const size_t length = entry.key.size() + (entry.hasEquals ? 1 + entry.raw.size() : 0) + 1;
            if (at + length > kStringSectionLimit) {
                Problem(section, &entry, entry.key,
                        "the section is longer than the %zu bytes the program reads of it: this and the later "
                        "entries are cut off",
                        kStringSectionLimit);
                break;
            }
            at += length;
        }
        listing.resize(kStringSectionLimit);
    }
    AddProfileSection(listing.data(), static_cast<unsigned>(listing.size()));
}

void SetupCheck::CheckDefs() {
    const IniSection* defs = ini.Find(kDefsSection);
    if (!defs) {
        Problem(nullptr, nullptr, "", "no [%s] section: the program lists no component", kDefsSection);
        return;
    }
    used.push_back(defs);
    // The string sections are loaded after the first keys are read and
    // before the components are: references in "components" and in the
    // components' sections can use them.
    const IniLine* strings = IniFile::FindKey(defs, SetupKeyName(KeyStrings));
    if (strings)
        for (const std::string& name : Tokens(Value(*defs, strings->key, ""))) LoadStringSection(strings, name);
    CheckKeys(*defs, KeyInDefs);
    CheckFlag(*defs, IniFile::FindKey(defs, SetupKeyName(KeyAllowIntervention)), "FALSE",
              "turns intervention off; anything else leaves it on");
    CheckFlag(*defs, IniFile::FindKey(defs, SetupKeyName(KeySaveProxySettings)), "TRUE",
              "hands the proxy to the client; anything else does not");

    const IniLine* list = IniFile::FindKey(defs, SetupKeyName(KeyComponents));
    const std::vector<std::string> names = list ? Tokens(Value(*defs, list->key, "")) : std::vector<std::string>();
    if (names.empty()) Problem(defs, list, SetupKeyName(KeyComponents), "no components: the program lists nothing");
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        bool repeated = false;
        for (size_t j = 0; j < i; ++j) repeated = repeated || SameName(names[j], name);
        if (repeated) {
            Problem(defs, list, list->key, "[%s] is named twice: the program lists, fetches and installs it twice",
                    name.c_str());
            continue;
        }
        const IniSection* section = ini.Find(name);
        if (!section) {
            Problem(defs, list, list->key, "component [%s] has no section: the program leaves it out", name.c_str());
            continue;
        }
        used.push_back(section);
        if (name.size() > kSectionNameLimit) {
            Problem(section, nullptr, "",
                    "the section name is longer than %zu characters: the program leaves the component out",
                    kSectionNameLimit);
            continue;
        }
        CheckComponent(*section);
    }
}

void SetupCheck::CheckActions(const IniSection& section, int rounds) {
    for (const IniLine& line : section.lines) {
        int number = 0;
        const int id = FindSetupKey(KeyInComponent, line.key.c_str(), &number);
        if (id != KeyExtract && id != KeyRegistry && id != KeyInstall) continue;
        if (IniFile::FindKey(&section, line.key) != &line) continue;  // reported as given again
        if (number > rounds) {
            if (rounds < 1)
                Problem(&section, &line, line.key, "never runs: \"%s\" is %d, so no install round runs",
                        SetupKeyName(KeyCount), rounds);
            else
                Problem(&section, &line, line.key, "never runs: \"%s\" is %d, so the install rounds are 1 to %d",
                        SetupKeyName(KeyCount), rounds, rounds);
            continue;
        }
        const std::string value = Value(section, line.key, "");
        if (value.empty()) continue;  // an empty step is passed over
        if (id == KeyRegistry) {
            CheckRegistry(section, line);
            continue;
        }
        ActionLine action;
        if (!SplitActionLine(value.c_str(), &action))
            Problem(&section, &line, line.key,
                    "\"%s\" does not parse: an action is VERB,FILE[,ARGUMENTS] (run, copy, package, ispackage or "
                    "a verb of the shell) with FILE inside the component's folder; the component fails there",
                    value.c_str());
    }
}

void SetupCheck::CheckRegistryLines(const IniSection& target, const std::string& where) {
    for (const IniLine& entry : target.lines) {
        std::string text = entry.key + (entry.hasEquals ? "=" + entry.raw : "");
        std::vector<char> line(text.begin(), text.end());
        line.push_back('\0');
        RegistryLine parsed;
        const RegistryLineKind kind = SplitRegistryLine(line.data(), &parsed);
        unsigned number = 0;
        if (kind == RegistryLineBadRoot)
            Problem(&target, &entry, "",
                    "the root is none of HKCR, HKCU, HKLM, HKU: the import%s stops here and the component fails",
                    where.c_str());
        else if (kind == RegistryLineSkipped)
            Problem(&target, &entry, "", "not ROOT,KEY,NAME=TYPE,DATA: the import%s passes over it", where.c_str());
        else if (parsed.isDword && !ParseDecimalDword(parsed.data, &number))
            Problem(&target, &entry, "",
                    "\"%s\" is no DWORD number: the import%s writes 0 and the component fails", parsed.data,
                    where.c_str());
    }
}

void SetupCheck::CheckRegistry(const IniSection& section, const IniLine& line) {
    const std::string value = Value(section, line.key, "");
    char name[1024], file[1024];
    if (!SplitRegistryReference(value.c_str(), path.c_str(), name, sizeof name, file, sizeof file)) {
        Problem(&section, &line, line.key,
                "\"%s\" names no section, or a file outside the setup's folder: the component fails",
                value.c_str());
        return;
    }
    if (file == path) {
        const IniSection* target = ini.Find(name);
        if (!target) {
            Problem(&section, &line, line.key, "registry section [%s] does not exist: the component fails", name);
            return;
        }
        used.push_back(target);
        if (target->lines.empty())
            Problem(&section, &line, line.key, "registry section [%s] is empty: the component fails", name);
        CheckRegistryLines(*target, "");
        return;
    }
    // Another file, named beside the setup description (or absolutely).
    std::string native = file;
    for (char& c : native)
        if (c == '\\') c = '/';
    IniFile other;
    if (!other.Load(native)) {
        Note(&section, &line, line.key, "%s is not here: its section [%s] is not checked", file, name);
        return;
    }
    const IniSection* target = other.Find(name);
    if (!target || target->lines.empty()) {
        Problem(&section, &line, line.key, "%s has no section [%s] with lines: the component fails", file, name);
        return;
    }
    CheckRegistryLines(*target, " from " + native);
}

void SetupCheck::CheckPasswords(const IniSection& section, int protocol) {
    if (protocol != ProtocolHttp) return;  // only the HTTP transport descrambles
    for (const IniLine& line : section.lines) {
        const int id = FindSetupKey(KeyInComponent, line.key.c_str(), nullptr);
        if (id < 0 || kSetupKeys[id].kind != KindPassword || IniFile::FindKey(&section, line.key) != &line) continue;
        const std::string value = Value(section, line.key, "");
        if (value.empty()) continue;
        std::vector<unsigned char> plain(value.size() + 1);
        int length = 0;
        if (!descramble(value.c_str(), static_cast<int>(value.size()), plain.data(), static_cast<int>(plain.size()),
                        &length) ||
            length < 0)
            Problem(&section, &line, line.key,
                    "not in the scrambled form: the program sends an empty password (make the value with cvpack "
                    "scramble)");
    }
}

// The site and the mirrors site2, site3, ... up to the first number missing.
void SetupCheck::CheckSites(CheckedComponent& c) {
    const IniSection& section = *c.section;
    const bool fetched = c.protocol == ProtocolFtp || c.protocol == ProtocolHttp;
    const IniLine* site = IniFile::FindKey(&section, SetupKeyName(KeySite));
    const std::string host = Value(section, SetupKeyName(KeySite), "");
    if (fetched && host.empty())
        Problem(&section, site, SetupKeyName(KeySite), "no site: the program cannot fetch the component (Download error)");
    if (!host.empty())
        c.sites.push_back({site, SetupKeyName(KeySite), host, Value(section, SetupKeyName(KeyUser), ""),
                           Value(section, SetupKeyName(KeyPassword), "")});
    std::map<int, const IniLine*> mirrors, logins;
    for (const IniLine& line : section.lines) {
        int number = 0;
        const int id = FindSetupKey(KeyInComponent, line.key.c_str(), &number);
        if (id == KeyMirrorSite) mirrors[number] = &line;
        if (id == KeyMirrorUser || id == KeyMirrorPassword) logins.emplace(number, &line);
    }
    int next = kSetupKeys[KeyMirrorSite].firstNumber;
    for (const auto& mirror : mirrors) {
        const IniLine* line = mirror.second;
        if (mirror.first != next) {
            Problem(&section, line, line->key,
                    "%s is missing: mirrors are read from %s upwards and end at the first number missing",
                    KeyText(KeyMirrorSite, next).c_str(), KeyText(KeyMirrorSite, kSetupKeys[KeyMirrorSite].firstNumber).c_str());
            break;
        }
        ++next;
        const std::string mirrorHost = Value(section, line->key, "");
        if (mirrorHost.empty()) continue;
        c.sites.push_back({line, line->key, mirrorHost, Value(section, KeyText(KeyMirrorUser, mirror.first), ""),
                           Value(section, KeyText(KeyMirrorPassword, mirror.first), "")});
    }
    for (const auto& login : logins)
        if (!mirrors.count(login.first))
            Problem(&section, login.second, login.second->key, "there is no %s: the program does not use it",
                    KeyText(KeyMirrorSite, login.first).c_str());
    if (!fetched && c.sites.size() > 1)
        Note(&section, c.sites[1].line, c.sites[1].key, "the component is not fetched (Protocol %s): mirrors are not used",
             kProtocolNames[c.protocol]);
}

// sha256 pins the first file, sha256_<n> the n-th of "files".
void SetupCheck::CheckPins(CheckedComponent& c) {
    const IniSection& section = *c.section;
    c.pins.assign(c.files.size(), std::string());
    c.pinLines.assign(c.files.size(), nullptr);
    const IniLine* plain = nullptr;
    for (const IniLine& line : section.lines) {
        int number = 0;
        const int id = FindSetupKey(KeyInComponent, line.key.c_str(), &number);
        if (id != KeyFileSha256 && id != KeyFileSha256Nth) continue;
        if (IniFile::FindKey(&section, line.key) != &line) continue;
        const std::string value = Value(section, line.key, "");
        unsigned char digest[kSha256Size];
        if (!ParseSha256Hex(value.c_str(), digest)) {
            Problem(&section, &line, line.key,
                    "\"%s\" is not a fingerprint: 64 hexadecimal digits, as cvpack pin and cvpack split print them",
                    value.c_str());
            continue;
        }
        if (id == KeyFileSha256) number = 1;
        if (number > static_cast<int>(c.files.size())) {
            Problem(&section, &line, line.key, "pins file %d, but \"%s\" lists %zu: it pins nothing", number,
                    SetupKeyName(KeyFiles), c.files.size());
            continue;
        }
        std::string& pin = c.pins[static_cast<size_t>(number - 1)];
        char hex[kSha256HexLength + 1];
        Sha256Hex(digest, hex);
        if (id == KeyFileSha256) {
            plain = &line;
            if (pin.empty()) {
                pin = hex;
                c.pinLines[0] = &line;
            }
        } else {
            if (plain && pin != hex)
                Problem(&section, &line, line.key, "differs from %s (line %d), which pins the same file; %s counts",
                        plain->key.c_str(), plain->number, line.key.c_str());
            pin = hex;
            c.pinLines[static_cast<size_t>(number - 1)] = &line;
        }
    }
}

// Files of the package or beside the program: when they lie beside the
// setup description here, their fingerprints can be compared now.
void SetupCheck::CheckLocalFiles(const CheckedComponent& c) {
    if (c.protocol != ProtocolSelfext && c.protocol != ProtocolCdrom) return;
    for (size_t i = 0; i < c.files.size(); ++i) {
        if (c.pins[i].empty() || !IsSafeFileName(c.files[i].c_str())) continue;
        std::string native = directory + c.files[i];
        for (char& ch : native)
            if (ch == '\\') ch = '/';
        unsigned char digest[kSha256Size];
        if (Sha256OfFile(native.c_str(), digest) != 0) continue;
        char hex[kSha256HexLength + 1];
        Sha256Hex(digest, hex);
        if (c.pins[i] != hex)
            Problem(c.section, c.pinLines[i], c.pinLines[i]->key,
                    "%s beside the setup description does not match the fingerprint (its sha256 is %s)",
                    c.files[i].c_str(), hex);
        else
            Note(c.section, c.pinLines[i], c.pinLines[i]->key, "%s beside the setup description matches",
                 c.files[i].c_str());
    }
}

void SetupCheck::CheckComponent(const IniSection& section) {
    CheckKeys(section, KeyInComponent);
    const IniLine* nameLine = IniFile::FindKey(&section, SetupKeyName(KeyName));
    if (Value(section, SetupKeyName(KeyName), "").empty()) {
        Problem(&section, nameLine, SetupKeyName(KeyName), "no name: the program leaves the component out");
        return;
    }
    CheckedComponent c;
    c.section = &section;
    const IniLine* protocolLine = IniFile::FindKey(&section, SetupKeyName(KeyProtocol));
    const std::string protocol = Value(section, SetupKeyName(KeyProtocol), "selfext");
    c.protocol = ProtocolFromName(protocol.c_str());
    if (c.protocol == ProtocolSelfext && !SameName(protocol, "selfext")) {
        if (SameName(protocol, "http"))
            Problem(&section, protocolLine, protocolLine->key,
                    "\"%s\": only http in lower case selects HTTP; the program takes the files from its package "
                    "(selfext)",
                    protocol.c_str());
        else
            Problem(&section, protocolLine, protocolLine->key,
                    "unknown protocol \"%s\": the program takes the files from its package (selfext); known are "
                    "http, ftp, copy, cdrom and selfext",
                    protocol.c_str());
    }
    const IniLine* filesLine = IniFile::FindKey(&section, SetupKeyName(KeyFiles));
    c.files = Tokens(Value(section, SetupKeyName(KeyFiles), ""));
    for (const std::string& file : c.files)
        if (!IsSafeFileName(file.c_str()))
            Problem(&section, filesLine, filesLine->key,
                    "\"%s\" is not a safe file name: names stay inside the component's folder (no drive, no "
                    "leading \\ or /, no ..); the program fails the component",
                    file.c_str());
    c.sourceDir = Value(section, SetupKeyName(KeySourceDir), "");
    CheckSites(c);
    CheckPasswords(section, c.protocol);
    const IniLine* count = IniFile::FindKey(&section, SetupKeyName(KeyCount));
    CheckActions(section, count ? static_cast<int>(LeadingNumber(count->value)) : 1);
    const IniLine* resultFrom = IniFile::FindKey(&section, SetupKeyName(KeyResultFrom));
    const std::string source = Value(section, SetupKeyName(KeyResultFrom), "");
    if (resultFrom && ResultSourceOf(source.c_str()) == ResultFromUnknown)
        Problem(&section, resultFrom, resultFrom->key,
                "\"%s\" is neither statefile nor exitcode: the program reads the result from the state file",
                source.c_str());
    CheckPins(c);
    CheckLocalFiles(c);
    components.push_back(c);
}

void SetupCheck::CheckUnusedSections() {
    for (const IniSection& section : ini.sections) {
        bool isUsed = false;
        for (const IniSection* u : used) isUsed = isUsed || SameName(u->name, section.name);
        if (!isUsed)
            Note(&section, nullptr, "",
                 "no component, string section or registry step names this section: the program never reads it");
    }
}

int SetupCheck::Run(bool online) {
    if (!ini.Load(path)) {
        std::fprintf(stderr, "cvpack check: cannot read %s\n", path.c_str());
        return 2;
    }
    ClearProfileCache();
    CheckDuplicateSections();
    CheckDefs();
    CheckUnusedSections();
    PrintHeld();
    if (online)
        for (const CheckedComponent& c : components) CheckOnline(c);
    ClearProfileCache();
    if (problems)
        std::printf("%s: %d problem%s", path.c_str(), problems, problems == 1 ? "" : "s");
    else
        std::printf("%s: no problems", path.c_str());
    if (notChecked) std::printf("; %d not checked", notChecked);
    std::printf("\n");
    if (std::fflush(stdout) != 0) return 2;
    return problems ? 1 : 0;
}

int CmdCheck(int argc, char** argv) {
    const char* file = nullptr;
    bool online = false;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--online")) {
            online = true;
        } else if (!file) {
            file = argv[i];
        } else {
            std::fprintf(stderr, "cvpack check: unexpected argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!file) {
        std::fprintf(stderr, "usage: cvpack check SETUP.inf [--online]\n");
        return 2;
    }
    SetupCheck check(file);
    return check.Run(online);
}
