// Definitions of the process-wide flags and the registered window messages.
// The messages are registered during static initialisation, before WinMain
// and before the first window of the program exists.
#include "app/process_win.h"
#include "ui/window_win.h"

int sessionActive = 0;
int secondInstance = 0;
int restartPending = 0;
int deferPackageSetup = 0;
const char* commandLine = "";

const UINT msgDl1 = RegisterWindowMessageA("dl1");
const UINT msgDl2 = RegisterWindowMessageA("dl2");
const UINT msgDl3 = RegisterWindowMessageA("dl3");
const UINT msgDl4 = RegisterWindowMessageA("dl4");
const UINT msgDl5 = RegisterWindowMessageA("dl5");
const UINT msgDli1 = RegisterWindowMessageA("dli1");
const UINT msgDlftp1 = RegisterWindowMessageA("dlftp1");
const UINT msgDlftp2 = RegisterWindowMessageA("dlftp2");
const UINT msgDlftp3 = RegisterWindowMessageA("dlftp3");
const UINT msgDldone = RegisterWindowMessageA("dldone");

int ShowMessage(UINT id, UINT type) {
    char caption[100] = "";
    char text[512] = "";
    LoadStringA(GetModuleInstance(), 16, caption, sizeof caption);
    LoadStringA(GetModuleInstance(), id, text, sizeof text);
    return MessageBoxA(nullptr, text, caption, type);
}
