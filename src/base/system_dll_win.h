// Where the process takes its DLLs from. The program is typically started
// from a downloads folder, where anybody may have left a DLL under a name
// the program or a system library asks for; so the search is narrowed to the
// system folder before anything else runs, and every DLL that is not one of
// the always-system-loaded ones is loaded by its full system path.
#pragma once
#include <windows.h>

// Narrows the DLL search of the whole process to the system folder where the
// system offers that, and otherwise at least takes the current directory
// out of it. Call first thing in the process. Returns true when the search
// is restricted to the system folder.
bool RestrictDllSearch();

// Loads a DLL of the system by its full path in the system folder (never by
// a bare name that the search could find elsewhere). Null when it cannot be
// loaded; the module stays loaded, callers may keep it for the process.
HMODULE LoadSystemLibrary(const char* name);

// Loads a DLL by the full path given (an absolute path, never a bare name):
// its own dependencies come from the system folder. Null for a relative
// path or when it cannot be loaded.
HMODULE LoadLibraryByFullPath(const char* path);

// An entry point of a system DLL (loaded on first use and kept); null when
// the DLL or the entry is missing.
FARPROC SystemProcedure(const char* dllName, const char* procedureName);
