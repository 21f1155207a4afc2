// The download folder: found in or recorded to the registry, made in the
// temporary directory, removed with its record; and path helpers.
#pragma once
#include <windows.h>

struct DownloadFolder {
    char path[260];
    HINSTANCE instance;
};

int OpenDownloadFolder(DownloadFolder* folder);
int RemoveDownloadFolder(DownloadFolder* folder);
void DeleteTree(const char* path);
// Creates every missing directory along a file path (not the last part).
int CreateParentDirectories(const char* path);
// Writes directory, "\" and name into out (260 bytes, cut to fit).
char* JoinPath(const char* directory, const char* name, char* out);
