// Entry point of cvget.exe.
#include <windows.h>

#include "app/startup_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
    return StartProgram(instance, cmdLine);
}
