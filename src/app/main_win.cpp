// Entry point of cvget.exe.
#include <windows.h>
#include "app/process_win.h"
#include "ui/window_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
    SetModuleInstance(instance);
    commandLine = cmdLine;
    return 0;
}
