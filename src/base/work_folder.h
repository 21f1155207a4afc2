// Names of the program's working folders in the temporary folder: the
// download folder ("inst" followed by eight hex digits and ".tmp") and the
// folders "ispackage" unpacks into ("INS", eight hex digits, ".tmp"). Only a
// folder with such a name, directly in the temporary folder, is ever
// removed as a download folder: a registry value names it, and any program
// of the user can write that value. Portable: no Windows header.
#pragma once

extern const char kDownloadFolderPrefix[];  // "inst"
extern const char kPackageFolderPrefix[];   // "INS"

// `prefix`, `number` as eight hex digits, ".tmp". 0 (and `out` empty) when
// it does not fit `size`.
int FormatWorkFolderName(const char* prefix, unsigned long number, char* out, int size);

// Whether a folder's name is a download folder's: "inst", one to eight hex
// digits, ".tmp", without regard to case; also "ins" with one to four hex
// digits and ".tmp", the names the system's temporary names gave earlier
// versions of the program.
int IsDownloadFolderName(const char* name);

// Whether `path` is a download folder (by its name) directly inside
// `tempFolder`, which may end in a separator. Compared without regard to
// case; "\" and "/" both separate; a path with "." or ".." parts is not one.
int IsDownloadFolderPath(const char* path, const char* tempFolder);
