// Extraction of the package appended to the program into the download
// folder; each setup description is handed on as soon as it is written.
#pragma once

typedef void (*SetupDescriptionHandler)(const char* infPath, void* context);

// Writes every record of the package in `programPath` into `folder`.
// Returns 1 when done (also when the file has no package or cannot be
// opened), 0 when extraction failed or the package is damaged; the caller
// then shows message 596 and ends the dialog with 1009.
int ExtractPackage(const char* programPath, const char* folder, SetupDescriptionHandler onInf,
                   void* context);
