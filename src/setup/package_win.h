// The package appended to the program: opened through the system's file
// handles, and extracted into the download folder, where each setup
// description is handed on as soon as it is written.
#pragma once
#include "setup/package.h"

// Opens an existing file (shared for reading by others) and reads its
// trailer; 0 only when the file cannot be opened.
int OpenPackage(PackageFile* package, const char* path, int writable);
// Appends the trailer when opened writable without one; closes the file.
void ClosePackage(PackageFile* package);

typedef void (*SetupDescriptionHandler)(const char* infPath, void* context);

// Writes every record of the package in `programPath` into `folder` in
// package order, copying through one 2048-byte buffer, and calls `onInf`
// with the written file's path right after each file whose name ends in
// ".inf" (any case). Returns 1 when done (also when the file has no package
// or cannot be opened), 0 when a file could not be written or the package is
// damaged (see ReadRecord; also a name too long for a path in the folder);
// the caller then shows message 596 and ends the dialog with 1009. Files
// written before a failure stay.
int ExtractPackage(const char* programPath, const char* folder, SetupDescriptionHandler onInf,
                   void* context);
