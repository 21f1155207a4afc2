/* A stranger's cvgetex.dll, as someone could leave it beside the program
   or in the folder the program is started from. Its answer (42) tells that
   it was called, and a file beside it ("cvgetex.dll.loaded") that it was
   loaded at all. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcatA(path, ".loaded");
            HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        }
    }
    return TRUE;
}

__declspec(dllexport) int __cdecl UnzipPackage(const char* archive, const char* target, int flag) {
    (void)archive;
    (void)target;
    (void)flag;
    return 42;
}
