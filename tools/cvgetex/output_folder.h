// Where an archive's entries go: the target folder, the checks an entry
// name must pass before anything is written, and entry files that appear
// under their final name only once they are complete.
#pragma once
#include <windows.h>

struct OutputFolder {
    wchar_t root[MAX_PATH];  // full path, no trailing "\"
    int keepExisting;        // flag bit 1: files already there stay as they are
    int verifyOnly;          // a dry run: nothing is created or written
};

// Prepares the target folder (cut to MAX_PATH, made absolute). Outside a dry
// run it also creates the folder and any missing parents. Returns 0 when
// the folder cannot be used.
int OpenOutputFolder(OutputFolder* out, const char* target, int flag, int verifyOnly);

// Turns an archive entry name (bytes in `codePage`, CP_UTF8 included) into a
// relative path with "\" separators. "." parts and empty parts are dropped;
// the result may be empty (an entry for the target itself). Returns 0 for a
// name that must not be written: absolute, with a drive or stream ":",
// climbing out with "..", a part of dots and blanks only, a device name,
// characters Windows refuses in names, or too long for the target.
int MakeEntryPath(const OutputFolder* folder, const char* name, int nameLength,
                  UINT codePage, wchar_t* relative, int* isFolder);

// One entry file being written: its data goes to a temporary file beside
// the final name and is moved there by CommitEntry.
struct EntryWriter {
    HANDLE file;
    int skipped;  // kept an existing file, or a dry run: data is dropped
    wchar_t temp[MAX_PATH];
    wchar_t final[MAX_PATH];
};

// Creates the entry's folders and its temporary file. Returns 0 on failure.
int BeginEntry(const OutputFolder* folder, const wchar_t* relative, EntryWriter* writer);
int WriteEntry(EntryWriter* writer, const void* data, unsigned length);
// Closes the data, dates the file (DOS date and time of the archive, local
// time; none when the date is 0) and moves it to its final name, replacing
// what was there. Returns 0 on failure, after removing the temporary file.
int CommitEntry(EntryWriter* writer, unsigned short dosDate, unsigned short dosTime);
// Drops an unfinished entry: its temporary file is closed and removed.
void AbandonEntry(EntryWriter* writer);
// Creates a folder entry (and its parents).
int MakeFolderEntry(const OutputFolder* folder, const wchar_t* relative);
