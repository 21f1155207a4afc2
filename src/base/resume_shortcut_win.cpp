// The resume shortcut in the Startup folder: written by the download dialog
// when a run that uses the network starts or is suspended, removed by
// start-up when the run is over. Lives in the bottom layer because both
// sides need it.
#include "base/resume_shortcut_win.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "base/os_kind.h"
#include "base/run_log.h"

namespace {
const char kShortcutName[] = "\\Corvane Lite Installer.lnk";
}  // namespace

namespace {
OSVERSIONINFOA QueryVersionOnce() {
    static OSVERSIONINFOA version;
    if (!version.dwOSVersionInfoSize) {
        std::memset(&version, 0, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        GetVersionExA(&version);
    }
    return version;
}
}  // namespace

int GetOsKind() {
    const OSVERSIONINFOA version = QueryVersionOnce();
    return OsKindOf(version.dwPlatformId, version.dwMajorVersion);
}

int GetSystemHasElevation() {
    const OSVERSIONINFOA version = QueryVersionOnce();
    return SystemHasElevation(version.dwPlatformId, version.dwMajorVersion);
}

bool GetResumeShortcutPath(char* path, int size) {
    int folder = StartupFolderOf(GetOsKind(), GetSystemHasElevation());
    if (folder < 0 || size <= 0) return false;
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folder, &items)) || !items) return false;
    char directory[MAX_PATH] = "";
    BOOL found = SHGetPathFromIDListA(items, directory);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
        allocator->Free(items);
        allocator->Release();
    }
    if (!found) return false;
    std::snprintf(path, size, "%s%s", directory, kShortcutName);
    return true;
}

void SetResumeShortcut(int on, const char* target, const char* arguments) {
    char path[MAX_PATH];
    if (!GetResumeShortcutPath(path, sizeof path)) return;
    if (!on) {
        if (DeleteFileA(path)) LogEvent("removed the resume shortcut %s", path);
        return;
    }
    HRESULT init = CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR widePath[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
            link->SetPath(target);
            link->SetArguments(arguments);
            HRESULT saved = file->Save(widePath, FALSE);
            LogEvent("resume shortcut %s: %s -> %s%s", SUCCEEDED(saved) ? "written" : "not written", path,
                     target ? target : "", arguments ? arguments : "");
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
}

