// Loads the extraction library the way the program does, in a process of its
// own, so that a test can choose the folder it runs from and its current
// directory.
// Usage: cv_unpack_probe MODE REPORT ARCHIVE TARGET DOWNLOAD_FOLDER
//   MODE "program": narrow the DLL search as the program does, then unpack;
//   "unnarrowed": unpack without narrowing (the loading rule alone);
//   "bare": narrow, then load "cvgetex.dll" by its bare name (the
//   narrowed search alone).
// REPORT receives "result=N" and "module=<path of the cvgetex.dll loaded>".
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/system_dll_win.h"
#include "install/install_win.h"

int main(int argc, char** argv) {
    if (argc != 6) return 2;
    const char* mode = argv[1];
    if (strcmp(mode, "unnarrowed") != 0) RestrictDllSearch();
    int result;
    if (strcmp(mode, "bare") == 0)
        result = LoadLibraryA("cvgetex.dll") != nullptr;
    else
        result = UnpackArchive(argv[3], argv[4], 0, argv[5]);
    char module[MAX_PATH] = "none";
    HMODULE loaded = GetModuleHandleA("cvgetex.dll");
    if (loaded) GetModuleFileNameA(loaded, module, sizeof module);
    FILE* f = fopen(argv[2], "wb");
    if (!f) return 3;
    fprintf(f, "result=%d\nmodule=%s\n", result, module);
    fclose(f);
    return 0;
}
