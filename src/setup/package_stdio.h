// Opening a package through the C library's files: the publisher's tool
// uses it on every system, the tests use it natively.
#pragma once
#include <cstdio>

#include "setup/package.h"

// Opens an existing file (for update when `writable`) and reads its trailer;
// 0 when the file cannot be opened or its size cannot be told.
int OpenPackageStdio(PackageFile* package, const char* path, int writable);

// Size of an open file in bytes, -1 when it cannot be told; the position is
// left at the start.
long long StdioFileSize(std::FILE* file);
