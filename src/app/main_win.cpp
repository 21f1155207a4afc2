// Entry point of cvget.exe.
#include <windows.h>

#include "app/startup_win.h"
#include "base/code_page_win.h"
#include "base/system_dll_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
    // Before anything can load a DLL: the program runs from folders where
    // others may leave DLLs of their own.
    RestrictDllSearch();
    UseProgramCodePage();
    return StartProgram(instance, cmdLine);
}
