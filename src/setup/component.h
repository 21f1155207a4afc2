// The component record of one list row, its states and protocol codes, and
// the portable rules the catalogue applies to a component's settings.
#pragma once
#include <stdint.h>

enum ComponentState {
    AlreadyInstalled = 0,
    Downloaded = 1,
    NeedDownload = 2,
    DownloadError = 3,
    Downloading = 4,
    Extracting = 5,
    Installing = 6,
    InstallDone = 7,
};

enum ProtocolCode {
    ProtocolFtp = 0,
    ProtocolCopy = 1,
    ProtocolCdrom = 2,
    ProtocolSelfext = 3,
    ProtocolHttp = 4,
};

struct Component {
    const char* downloadFolder;  // the session's folder, shared, not owned
    char infPath[260];           // setup description that defines it
    char section[72];            // its section name
    int sizeKB;
    int displayOrder;
    int installOrder;
    ComponentState state;
    int addedOrder;  // position among the components as they were added
};

// The protocol code of a "Protocol" value: "copy", "cdrom" and "ftp" in any
// case, "http" only in lower case, anything else the package ("selfext").
int ProtocolFromName(const char* value);

// A version requirement of "NoDownloadIfFilesExist": "a.b.c.d" compared with
// the product version, "#a.b.c.d" with the file version; missing numbers
// count as 0, each number is at most 65535.
struct VersionRequirement {
    int useFileVersion;
    uint32_t high;  // (a << 16) | b
    uint32_t low;   // (c << 16) | d
};
void ParseVersionRequirement(const char* text, VersionRequirement* out);
// True when the version (high, low) is at least the required one.
int VersionAtLeast(uint32_t high, uint32_t low, const VersionRequirement* required);

// The directory of a program file: the part before its last "". For a
// program in the root of a drive ("D:\setup.exe") that is the drive ("D:"),
// to which "" and a file name are appended to name files beside it.
void ProgramDirectory(const char* programPath, char* out, int size);

// Whether a name of the "files" list stays inside the component's source
// folder: not absolute ("\" or "/" first), no drive or stream (":"), and no
// part that climbs out (".." - also written with more dots or trailing
// blanks, which the file system drops). Empty names are not safe either.
int IsSafeFileName(const char* name);
// Whether every name of a "files" list (separated by "," and " ") is safe;
// an empty list is safe (it names nothing).
int AreFileNamesSafe(const char* list);
