// The keys of a setup description, in one table: the program's readers take
// each key's name from here, and the publisher's check (cvpack check) learns
// from the same table which keys exist, where, and how they are read, so
// the two cannot drift apart. Key names are matched without regard to case.
#pragma once

// The section that names the components and the string sections.
extern const char kDefsSection[];  // "defs"

enum SetupKeyPlace {
    KeyInDefs,       // the [defs] section
    KeyInComponent,  // a component's section
};

enum SetupKeyKind {
    KindText,         // read as text, with %name% substitution
    KindInteger,      // read as a whole number, without substitution
    KindFlag,         // text compared with "TRUE" or "FALSE" as written
    KindList,         // text split on "," and " "
    KindPassword,     // text; for "http" components in the scrambled form
    KindActionLine,   // an install action line
    KindRegistry,     // a registry section reference ("Section" or "Section@file")
    KindFingerprint,  // 64 hexadecimal digits of a SHA-256
};

enum SetupKeyId {
    // [defs]
    KeyAllowIntervention,
    KeySaveProxySettings,
    KeyProxyAutoConfig,
    KeyMaxConnections,  // parts of an "http" component fetched at once
    KeyStrings,
    KeyComponents,
    // component sections
    KeyName,
    KeyEnable,
    KeySize,
    KeyDisplayOrder,
    KeyInstallOrder,
    KeyProtocol,
    KeySourceDir,
    KeyNoDownloadIfObjectsExist,
    KeyNoDownloadIfFilesExist,
    KeyFiles,
    KeySite,
    KeyProxy,
    KeyPort,
    KeyUser,
    KeyPassword,
    KeyProxyUser,
    KeyProxyPassword,
    KeyCount,
    KeyExtract,   // extract<n>, n from 1 to "count"
    KeyRegistry,  // registry<n>
    KeyInstall,   // install<n>
    KeyFileSha256,     // sha256: the first (or only) file's fingerprint
    KeyFileSha256Nth,  // sha256_<n>: the n-th file of "files", from 1
    KeyMirrorSite,     // site<n>, n from 2: further sites, tried in order
    KeyMirrorUser,     // user<n>: the login of site<n>
    KeyMirrorPassword, // password<n>
    KeyTries,          // failed tries of a part list or part on one site
    KeyResultFrom,     // how the component's programs report their result
    kSetupKeyCount
};

struct SetupKey {
    const char* name;  // numbered keys: the part before the number
    SetupKeyPlace place;
    SetupKeyKind kind;
    int firstNumber;   // 0: not numbered; else the lowest number it takes
};

extern const SetupKey kSetupKeys[kSetupKeyCount];

// The name of a key that is not numbered.
inline const char* SetupKeyName(SetupKeyId id) { return kSetupKeys[id].name; }
// The name of a numbered key: "install3", "site2", "sha256_1" (cut to size).
void NumberedKeyName(SetupKeyId id, int number, char* out, int size);

// Numbers of numbered keys stop here: nothing counts that far.
const int kMaxKeyNumber = 9999;

// Which key of the table a key of a section at `place` is: its id, and in
// *number its number (0 when not numbered); -1 when the program never reads
// such a key there. A number is written as printf's "%d" writes it: no sign,
// no leading zero.
int FindSetupKey(SetupKeyPlace place, const char* key, int* number);

// The known key at `place` whose name is nearest to `key` (fewest letters
// to change, add or remove, ignoring case; numbered keys with their first
// number): for reports of unknown keys.
void NearestSetupKey(SetupKeyPlace place, const char* key, char* out, int size);
