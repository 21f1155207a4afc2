// Loads a DLL of the operating system from the system folder only, so that
// a file of the same name beside the program or in the current folder is
// never taken instead.
#pragma once
#include <windows.h>

// The module, or null when the file is missing or cannot be loaded. The
// caller frees it with FreeLibrary.
HMODULE LoadSystemLibrary(const char* fileName);
