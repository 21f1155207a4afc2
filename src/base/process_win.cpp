// Definitions of the process-wide flags and the registered window messages.
// The messages are registered during static initialisation, before WinMain
// and before the first window of the program exists.
#include "base/process_win.h"

int sessionActive = 0;
int secondInstance = 0;
int restartPending = 0;
int deferPackageSetup = 0;
int unattendedRun = 0;
char carriedSwitches[300] = "";
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
