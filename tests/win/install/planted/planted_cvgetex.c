/* A stranger's cvgetex.dll, as someone could leave it in the folder the
   program is started from. Its answer (42) tells that it was called. */
#include <windows.h>

__declspec(dllexport) int __cdecl UnzipPackage(const char* archive, const char* target, int flag) {
    (void)archive;
    (void)target;
    (void)flag;
    return 42;
}
