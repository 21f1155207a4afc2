// Install actions: action lines of a component, registry sections, the
// extraction library and the client's folders.
#pragma once
#include <windows.h>
#include "setup/component.h"

// Handle of the program an install action waits for; INVALID_HANDLE_VALUE
// (-1) when none.
extern HANDLE waitedProcess;

int RunAction(const Component* component, const char* actionLine);
int ImportRegistrySection(const char* infPath, const char* registryLine);
int UnpackArchive(const char* archive, const char* targetFolder, int flag, const char* downloadFolder);
int QueueComServer(const char* path);
int FindClientFolder(char* buffer, int dataFlag);
