// The program's start: single instance, switches and the run-mode loop.
#pragma once
#include <windows.h>

// Name of the mutex that marks a running instance.
#define INSTANCE_MUTEX_NAME "CVGET_INSTANCE_MUTEX"

// The body of WinMain: 1 when it only handed over to or warned about a
// running instance, 0 otherwise.
int StartProgram(HINSTANCE instance, const char* cmdLine);
