// The component catalogue: each component section becomes a heap record
// owned by one row of the download dialog's list view; the presence tests
// decide the row's first state.
#include "setup/catalogue_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/run_log.h"
#include "base/system_dll_win.h"
#include "base/text_copy.h"
#include "resources/resource.h"
#include "setup/profile_win.h"
#include "setup/setup_keys.h"
#include "ui/window_win.h"

namespace {

HWND catalogueList = nullptr;
const char* catalogueFolder = "";
int componentCount = 0;
int addedCount = 0;
int currentRow = -1;

const char kListSeparators[] = ", ";
const int kNameCharacters = 200;

// The module whose string table holds the status and column texts.
HINSTANCE TextInstance() {
    HINSTANCE instance = GetModuleInstance();
    return instance ? instance : GetModuleHandleA(nullptr);
}

void ReadValue(const Component* c, SetupKeyId key, const char* defaultValue, char* out, int size) {
    ReadSetting(c->section, SetupKeyName(key), defaultValue, out, size, c->infPath);
}

int ReadInteger(const char* section, SetupKeyId key, int defaultValue, const char* iniPath) {
    return ReadSettingInt(section, SetupKeyName(key), defaultValue, iniPath);
}

void SetRowText(int row, int column, const char* text) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(catalogueList, LVM_SETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

bool ClassIdsExist(const Component* c) {
    char list[400];
    ReadValue(c, KeyNoDownloadIfObjectsExist, "", list, sizeof list);
    HKEY classes = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &classes) != ERROR_SUCCESS)
        return true;  // nothing to look in: the test cannot fail
    bool passed = true;
    char* cursor = list;
    while (char* id = NextToken(&cursor, kListSeparators)) {
        // Only the size is asked for: a registered class whose default value
        // is longer than any buffer is registered all the same.
        LONG size = 0;
        if (RegQueryValueA(classes, id, nullptr, &size) != ERROR_SUCCESS) {
            passed = false;
            break;
        }
    }
    RegCloseKey(classes);
    return passed;
}

// The version functions, from the system folder's version.dll at run time
// (the program imports only DLLs that Windows always takes from there).
typedef DWORD(WINAPI* VersionSizeFunction)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* VersionInfoFunction)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VersionQueryFunction)(LPCVOID, LPCSTR, LPVOID*, PUINT);

struct VersionFunctions {
    VersionSizeFunction size;
    VersionInfoFunction info;
    VersionQueryFunction query;
};

bool GetVersionFunctions(VersionFunctions* out) {
    static VersionFunctions functions = {};
    if (!functions.size || !functions.info || !functions.query) {
        functions.size = reinterpret_cast<VersionSizeFunction>(
            SystemProcedure("version.dll", "GetFileVersionInfoSizeA"));
        functions.info = reinterpret_cast<VersionInfoFunction>(
            SystemProcedure("version.dll", "GetFileVersionInfoA"));
        functions.query = reinterpret_cast<VersionQueryFunction>(
            SystemProcedure("version.dll", "VerQueryValueA"));
    }
    *out = functions;
    return functions.size && functions.info && functions.query;
}

// The version of a file, from its fixed version information. The block is
// as large as the system says the file's resource is: makers pad version
// resources with long string tables, and a cut block would hide a version.
bool ReadFileVersion(const char* path, bool fileVersion, uint32_t* high, uint32_t* low) {
    VersionFunctions version;
    if (!GetVersionFunctions(&version)) return false;
    DWORD handle = 0;
    DWORD size = version.size(path, &handle);
    if (size == 0) return false;
    void* block = std::malloc(size);
    if (!block) return false;
    bool found = false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (version.info(path, 0, size, block) &&
        version.query(block, "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        *high = fileVersion ? fixed->dwFileVersionMS : fixed->dwProductVersionMS;
        *low = fileVersion ? fixed->dwFileVersionLS : fixed->dwProductVersionLS;
        found = true;
    }
    std::free(block);
    return found;
}

bool FileTestPasses(char* token) {
    char* colon = std::strchr(token, ':');
    const char* requirement = nullptr;
    if (colon) {
        *colon = '\0';
        requirement = colon + 1;
    }
    char found[MAX_PATH];
    char* filePart = nullptr;
    DWORD n = SearchPathA(nullptr, token, nullptr, sizeof found, found, &filePart);
    if (n == 0 || n >= sizeof found) return false;
    if (!requirement) return true;
    VersionRequirement required;
    ParseVersionRequirement(requirement, &required);
    uint32_t high = 0, low = 0;
    if (!ReadFileVersion(found, required.useFileVersion != 0, &high, &low)) return false;
    return VersionAtLeast(high, low, &required) != 0;
}

bool FilesExist(const Component* c) {
    char list[400];
    ReadValue(c, KeyNoDownloadIfFilesExist, "", list, sizeof list);
    char* cursor = list;
    while (char* token = NextToken(&cursor, kListSeparators)) {
        if (!FileTestPasses(token)) return false;
    }
    return true;
}

bool IsListEmpty(const Component* c, SetupKeyId key) {
    char list[400];
    ReadValue(c, key, "", list, sizeof list);
    char* cursor = list;
    return NextToken(&cursor, kListSeparators) == nullptr;
}

// The first of the component's files that is not in its source folder, ""
// when all are there; returns whether any file is listed.
bool FirstMissingFile(const Component* c, char* out, int size) {
    char list[300];
    ReadValue(c, KeyFiles, "", list, sizeof list);
    char* cursor = list;
    out[0] = 0;
    bool any = false;
    while (char* name = NextToken(&cursor, kListSeparators)) {
        any = true;
        char path[MAX_PATH];
        GetSourcePath(c, name, path, sizeof path);
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
            std::snprintf(out, static_cast<size_t>(size), "%s", path);
            return true;
        }
    }
    return any;
}

// Why the component has its state: the presence tests and the files.
void LogComponentState(const Component* c) {
    char status[100];
    GetStateText(c, TextInstance(), status, sizeof status);
    char objects[400], files[400], missing[MAX_PATH];
    ReadValue(c, KeyNoDownloadIfObjectsExist, "", objects, sizeof objects);
    ReadValue(c, KeyNoDownloadIfFilesExist, "", files, sizeof files);
    const char* tests = IsListEmpty(c, KeyNoDownloadIfObjectsExist) && IsListEmpty(c, KeyNoDownloadIfFilesExist)
                            ? "none"
                        : c->state == AlreadyInstalled ? "passed"
                                                       : "not passed";
    bool listed = FirstMissingFile(c, missing, sizeof missing);
    LogEvent("component %s: %s (state %d); presence tests %s [objects: %s; files: %s]; %s%s",
             c->section, status, static_cast<int>(c->state), tests, objects, files,
             !listed ? "no files listed" : missing[0] ? "missing " : "all files present", missing);
}

}  // namespace

void BindCatalogue(HWND list, const char* downloadFolder) {
    catalogueList = list;
    catalogueFolder = downloadFolder ? downloadFolder : "";
    componentCount = 0;
    addedCount = 0;
    currentRow = -1;
}

void InsertCatalogueColumns(HWND list) {
    struct ColumnSpec {
        UINT title;
        int format;
        int perMille;
    };
    static const ColumnSpec columns[] = {
        {IDS_COLUMN_COMPONENT, LVCFMT_LEFT, 400},
        {IDS_COLUMN_SIZE, LVCFMT_RIGHT, 150},
        {IDS_COLUMN_STATUS, LVCFMT_LEFT, 450},
    };
    RECT client = {};
    GetClientRect(list, &client);
    const int width = client.right - client.left;
    for (int i = 0; i < 3; ++i) {
        char title[100] = "";
        LoadStringA(TextInstance(), columns[i].title, title, sizeof title);
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = columns[i].format;
        column.cx = width * columns[i].perMille / 1000;
        column.pszText = title;
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&column));
    }
}

int AddComponent(const char* section, const char* iniPath) {
    if (!catalogueList || !section || !iniPath) return 0;
    Component probe;
    // A name that does not fit the record would read another section's
    // settings later; such components are left out like disabled ones.
    if (std::strlen(section) >= sizeof probe.section || std::strlen(iniPath) >= sizeof probe.infPath)
        return 0;
    // The name shown holds up to 199 characters, however many bytes each
    // takes in the program's code page.
    char name[kNameCharacters * 4];
    ReadSetting(section, SetupKeyName(KeyName), "", name, TextsUtf8() ? sizeof name : kNameCharacters,
                iniPath);
    LimitCharacters(name, kNameCharacters - 1);
    if (!name[0]) return 0;
    if (ReadInteger(section, KeyEnable, 1, iniPath) == 0) return 0;

    Component* c = new (std::nothrow) Component();
    if (!c) return 0;
    c->downloadFolder = catalogueFolder;
    std::strcpy(c->infPath, iniPath);
    std::strcpy(c->section, section);
    c->sizeKB = ReadInteger(section, KeySize, 0, iniPath);
    c->displayOrder = ReadInteger(section, KeyDisplayOrder, 100, iniPath);
    c->installOrder = ReadInteger(section, KeyInstallOrder, 100, iniPath);
    c->state = NeedDownload;
    c->addedOrder = addedCount;
    DecideInitialState(c);

    const int row = static_cast<int>(SendMessageA(catalogueList, LVM_GETITEMCOUNT, 0, 0));
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = name;
    item.lParam = reinterpret_cast<LPARAM>(c);
    const int inserted =
        static_cast<int>(SendMessageA(catalogueList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted < 0) {
        delete c;
        return 0;
    }
    if (c->sizeKB != 0) {
        char size[32];
        std::snprintf(size, sizeof size, "%dKB", c->sizeKB);
        SetRowText(inserted, 1, size);
    }
    char status[100];
    GetStateText(c, TextInstance(), status, sizeof status);
    SetRowText(inserted, 2, status);
    ++addedCount;
    ++componentCount;
    return 1;
}

int GetComponentCount() { return componentCount; }

int CALLBACK CompareDisplayOrder(LPARAM a, LPARAM b, LPARAM) {
    const Component* x = reinterpret_cast<const Component*>(a);
    const Component* y = reinterpret_cast<const Component*>(b);
    // Compared, not subtracted: extreme orders must not overflow. Equal
    // orders keep the order in which the components were added.
    if (x->displayOrder != y->displayOrder) return x->displayOrder < y->displayOrder ? -1 : 1;
    if (x->addedOrder != y->addedOrder) return x->addedOrder < y->addedOrder ? -1 : 1;
    return 0;
}

void SortComponents() {
    if (!catalogueList) return;
    SendMessageA(catalogueList, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(CompareDisplayOrder));
}

int GetProtocol(const Component* component) {
    char value[40];
    ReadValue(component, KeyProtocol, "selfext", value, sizeof value);
    return ProtocolFromName(value);
}

void GetSourceDirectory(const Component* component, char* out, int size) {
    if (!out || size <= 0) return;
    switch (GetProtocol(component)) {
        case ProtocolCopy:
            ReadValue(component, KeySourceDir, "", out, size);
            break;
        case ProtocolCdrom: {
            char program[MAX_PATH];
            DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
            if (n >= sizeof program) n = sizeof program - 1;
            program[n] = '\0';
            ProgramDirectory(program, out, size);
            break;
        }
        default:
            std::snprintf(out, static_cast<size_t>(size), "%s",
                          component->downloadFolder ? component->downloadFolder : "");
            break;
    }
}

void GetSourcePath(const Component* component, const char* fileName, char* out, int size) {
    if (!out || size <= 0) return;
    char directory[MAX_PATH];
    GetSourceDirectory(component, directory, sizeof directory);
    std::snprintf(out, static_cast<size_t>(size), "%s\\%s", directory, fileName ? fileName : "");
}

int IsAlreadyInstalled(const Component* component) {
    const bool objectTest = !IsListEmpty(component, KeyNoDownloadIfObjectsExist);
    const bool fileTest = !IsListEmpty(component, KeyNoDownloadIfFilesExist);
    if (!objectTest && !fileTest) return 0;
    if (objectTest && !ClassIdsExist(component)) return 0;
    if (fileTest && !FilesExist(component)) return 0;
    return 1;
}

int AreFilesPresent(const Component* component) {
    char list[300];
    ReadValue(component, KeyFiles, "", list, sizeof list);
    char* cursor = list;
    bool any = false;
    while (char* name = NextToken(&cursor, kListSeparators)) {
        any = true;
        // A name that leads out of the source folder never counts as there.
        if (!IsSafeFileName(name)) return 0;
        char path[MAX_PATH];
        GetSourcePath(component, name, path, sizeof path);
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 0;
    }
    return any ? 1 : 0;
}

void DecideInitialState(Component* component) {
    if (IsAlreadyInstalled(component))
        component->state = AlreadyInstalled;
    else if (AreFilesPresent(component))
        component->state = Downloaded;
    LogComponentState(component);
}

void GetStateText(const Component* component, HINSTANCE instance, char* buffer, int size) {
    if (!buffer || size <= 0) return;
    buffer[0] = '\0';
    const int state = component ? static_cast<int>(component->state) : -1;
    if (state < AlreadyInstalled || state > InstallDone) return;
    // There is no text 516: the running states follow one id later.
    const UINT id = state <= DownloadError ? IDS_STATE_ALREADY_INSTALLED + state
                                           : IDS_STATE_ALREADY_INSTALLED + 1 + state;
    LoadStringA(instance, id, buffer, size);
}

Component* GetRowComponent(int row) {
    if (!catalogueList || row < 0) return nullptr;
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(catalogueList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
    return reinterpret_cast<Component*>(item.lParam);
}

void SetRowState(int row, ComponentState state) {
    Component* c = GetRowComponent(row);
    if (!c) return;
    c->state = state;
    char status[100];
    GetStateText(c, TextInstance(), status, sizeof status);
    SetRowText(row, 2, status);
    HWND dialog = GetParent(catalogueList);
    UpdateWindow(dialog ? dialog : catalogueList);
}

void SetCurrentRow(int row) { currentRow = row; }

void SetCurrentState(ComponentState state) { SetRowState(currentRow, state); }

void FreeComponents() {
    if (!catalogueList) return;
    const int rows = static_cast<int>(SendMessageA(catalogueList, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        Component* c = GetRowComponent(row);
        if (!c) continue;
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        item.lParam = 0;
        SendMessageA(catalogueList, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        delete c;
    }
    componentCount = 0;
}
