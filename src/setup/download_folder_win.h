// The download folder: found in or recorded to the registry, made in the
// temporary directory, removed with its record; and path helpers.
#pragma once
#include <windows.h>

struct DownloadFolder {
    char path[260];
    HINSTANCE instance;
};

int OpenDownloadFolder(DownloadFolder* folder);
// Deletes the folder and its record; a folder that still cannot be deleted
// after a few tries keeps its record, marked for removal. True when gone.
int RemoveDownloadFolder(DownloadFolder* folder);
// At start: removes a recorded folder marked for removal, with its record;
// true when it did so.
int RemoveLeftoverDownloadFolder(HINSTANCE instance);
void DeleteTree(const char* path);
// Creates every missing directory along a file path (not the last part).
int CreateParentDirectories(const char* path);
// Writes directory, "\" and name into out (260 bytes, cut to fit).
char* JoinPath(const char* directory, const char* name, char* out);
