// The list of kept files: what a run that hands its install to the elevated
// copy leaves it to install. One line per file, "<SHA-256> <size> <name>",
// the name relative to the download folder. The list's own SHA-256 goes on
// the elevated copy's command line, which no process of the user can change
// once the copy runs; the copy installs only files that match the list.
// Portable: no Windows header.
#pragma once

#include <cstddef>

#include "http/sha256.h"

// The list's file name in the download folder.
extern const char kKeptListName[];  // "cvkept.lst"
// The switch that carries the list's SHA-256 (64 hex digits after it).
extern const char kKeptSumSwitch[];  // "/KeptSum:"

// More files than any setup description names.
const int kMaxKeptFiles = 1024;
// The largest list: every file with the longest name.
const size_t kMaxKeptListBytes = static_cast<size_t>(kMaxKeptFiles) * (kSha256HexLength + 24 + 260);

struct KeptFile {
    char name[260];  // relative to the download folder, a safe name
    unsigned long long size;
    unsigned char digest[kSha256Size];
};

// One line of the list, "\n" included; 0 (and `out` empty) for a name that
// is not safe (absolute, a drive, a ".." part, see IsSafeFileName) or holds
// a line break, or when it does not fit `size`.
int FormatKeptLine(const KeptFile& file, char* out, int size);

// Reads a whole list: `take` gets each file in order (and may stop the
// reading by returning 0). 0 for a list that is not one: a line not of the
// form above or without its "\n", an unsafe name, a name listed twice
// (letters compared without regard to case), more than kMaxKeptFiles
// files, or a `take` that stopped it.
int ParseKeptList(const char* text, size_t length, int (*take)(const KeptFile& file, void* context),
                  void* context);

// The names a list is made of: each name once (letters compared without
// regard to case), at most kMaxKeptFiles.
struct KeptNames {
    char (*names)[260];  // kMaxKeptFiles entries, owned by the caller
    int count;
};
// Adds `name` unless it is there already. 0 for an unsafe or empty name, a
// name too long, or a full set.
int AddKeptName(KeptNames* set, const char* name);

// The name of `path` relative to `folder` ("sub\file.txt"), when the path
// lies inside the folder (letters compared without regard to case, "\" and
// "/" both separate); 0 otherwise or when it does not fit `size`.
int NameInFolder(const char* path, const char* folder, char* out, int size);
