// The archive readers of the extraction library. Each unpacks a whole
// archive into the output folder (or, in a dry run, only reads and checks
// it) and returns 1 on success, 0 when the archive is damaged, not of its
// format, names an unsafe path, or cannot be written.
#pragma once
#include <windows.h>

#include "output_folder.h"

int ExtractCabinet(const char* archivePath, const OutputFolder* folder);
int ExtractZip(HANDLE archive, const OutputFolder* folder);
