// The download folder: found in or recorded to the registry, made in the
// temporary directory, removed with its record; and path helpers.
#pragma once
#include <windows.h>

struct DownloadFolder {
    char path[260];
    HINSTANCE instance;
};

// Takes up the recorded folder, when it is one the program made (its name,
// directly in the user's temporary folder, its owner, no link), else makes
// a fresh one of its own (base/own_folder_win.h) and records it. True when
// the folder exists afterwards.
int OpenDownloadFolder(DownloadFolder* folder);
// Deletes the folder and its record, only when the folder is a download
// folder of the program directly in the user's temporary folder; a folder
// that still cannot be deleted after a few tries keeps its record, marked
// for removal. True when gone.
int RemoveDownloadFolder(DownloadFolder* folder);
// At start: removes a recorded folder marked for removal, with its record,
// under the same rule; true when it did so. The elevated copy never calls
// it: the record is the user's to write.
int RemoveLeftoverDownloadFolder(HINSTANCE instance);
// Deletes a directory tree. Each directory is opened and checked before
// anything in it is removed: a link or other reparse point is removed
// itself, never followed.
void DeleteTree(const char* path);
// Creates every missing directory along a file path (not the last part).
int CreateParentDirectories(const char* path);
// Writes directory, "\" and name into out (260 bytes, cut to fit).
char* JoinPath(const char* directory, const char* name, char* out);
