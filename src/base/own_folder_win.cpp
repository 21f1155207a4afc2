// Folders of the program's own: their access list, their fresh names, and
// the test an existing folder passes before it is taken up again.
#include "base/own_folder_win.h"

#include <cstdio>
#include <cstring>

#include "base/text_copy.h"
#include "base/work_folder.h"

namespace {
// TokenElevationType and its "full" value (Vista and later), named here
// because the headers are set for the oldest system the program runs on.
const TOKEN_INFORMATION_CLASS kTokenElevationType = static_cast<TOKEN_INFORMATION_CLASS>(18);
const DWORD kElevationTypeFull = 2;
// Names tried before giving up: a name is taken only by someone who
// guessed a random number of 32 bits, so more than a few means the parent
// refuses every name.
const int kNameTries = 64;

bool Is95Family() { return (GetVersion() & 0x80000000u) != 0; }

bool ReadTokenUser(BYTE* out, DWORD size) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD needed = 0;
    bool ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &needed) &&
              CopySid(size, out, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return ok;
}

// Full control for `sid`, passed on to every file and subfolder. The ACE
// flags are set by hand, as on NT 4.0, which lacks AddAccessAllowedAceEx.
bool Grant(PACL acl, PSID sid) {
    if (!AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid)) return false;
    void* ace = nullptr;
    if (!GetAce(acl, acl->AceCount - 1, &ace)) return false;
    static_cast<ACE_HEADER*>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return true;
}

unsigned long RandomNumber() {
    typedef BOOLEAN(WINAPI * RandomFunction)(PVOID, ULONG);
    static RandomFunction random = reinterpret_cast<RandomFunction>(
        GetProcAddress(GetModuleHandleA("advapi32.dll"), "SystemFunction036"));
    unsigned long number = 0;
    if (random && random(&number, sizeof number)) return number;
    // Without the system's generator: unpredictable enough to make a
    // taken name rare; a taken name only costs another try.
    static unsigned long counter = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    number = now.LowPart ^ (now.HighPart << 7) ^ (GetCurrentProcessId() << 16) ^ GetTickCount() ^
             (++counter * 0x9E3779B9UL);
    return number;
}

bool IsAdministratorsOrSystem(PSID sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    PSID system = nullptr;
    bool found = false;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                 0, 0, 0, &admins))
        found = EqualSid(sid, admins) != 0;
    if (!found && AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system))
        found = EqualSid(sid, system) != 0;
    if (admins) FreeSid(admins);
    if (system) FreeSid(system);
    return found;
}

bool IsReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
}  // namespace

bool HasUnelevatedTwin() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD type = 0;
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, kTokenElevationType, &type, sizeof type, &size);
    CloseHandle(token);
    return ok && type == kElevationTypeFull;
}

OwnFolderSecurity::OwnFolderSecurity(FolderUsers users)
    : needed(!Is95Family()), built(false), attributes(), descriptor(), admins(nullptr), system(nullptr) {
    if (!needed) return;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &admins) ||
        !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system))
        return;
    const bool elevatedOnly = users == FolderOfThisElevation && HasUnelevatedTwin();
    PACL list = reinterpret_cast<PACL>(acl);
    if (!InitializeAcl(list, sizeof acl, ACL_REVISION)) return;
    if (!elevatedOnly) {
        if (!ReadTokenUser(user, sizeof user)) return;
        // SYSTEM runs as itself: one entry is enough.
        if (!EqualSid(user, system) && !EqualSid(user, admins) && !Grant(list, user)) return;
    }
    if (!Grant(list, admins) || !Grant(list, system)) return;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
        return;
    // Protected: nothing of the parent's list is added, then or later.
    descriptor.Control |= SE_DACL_PROTECTED;
    // The owner may always change the list: the elevated half's folders
    // belong to the Administrators, not to the user SID both halves share.
    if (elevatedOnly && !SetSecurityDescriptorOwner(&descriptor, admins, FALSE)) return;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    built = true;
}

OwnFolderSecurity::~OwnFolderSecurity() {
    if (admins) FreeSid(admins);
    if (system) FreeSid(system);
}

bool CreateOwnFolder(const char* path, FolderUsers users) {
    OwnFolderSecurity security(users);
    if (security.Needed() && !security.Attributes()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return CreateDirectoryA(path, security.Attributes()) != 0;
}

bool MakeOwnFolder(const char* parent, const char* prefix, FolderUsers users, char* out, int size,
                   unsigned long (*numbers)()) {
    if (size <= 0) return false;
    out[0] = '\0';
    const size_t length = std::strlen(parent);
    const bool separated = length > 0 && (parent[length - 1] == '\\' || parent[length - 1] == '/');
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        char name[32];
        if (!FormatWorkFolderName(prefix, numbers ? numbers() : RandomNumber(), name, sizeof name))
            return false;
        char path[MAX_PATH];
        const int n = std::snprintf(path, sizeof path, "%s%s%s", parent, separated ? "" : "\\", name);
        if (n < 0 || n >= static_cast<int>(sizeof path) || n >= size) return false;
        if (CreateOwnFolder(path, users)) {
            CopyTruncated(out, size, path);
            return true;
        }
        const DWORD error = GetLastError();
        // Someone has that name (or a file of it is being deleted).
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return false;
    }
    return false;
}

HANDLE OpenEntryItself(const char* path, DWORD access, DWORD share, DWORD flags,
                       BY_HANDLE_FILE_INFORMATION* information) {
    HANDLE entry = CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                               flags | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (entry == INVALID_HANDLE_VALUE) return entry;
    if (!GetFileInformationByHandle(entry, information)) {
        CloseHandle(entry);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD byPath = GetFileAttributesA(path);
    if (IsReparsePoint(byPath)) information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return entry;
}

bool IsOwnFolder(const char* path) {
    BY_HANDLE_FILE_INFORMATION information;
    HANDLE folder = OpenEntryItself(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                                    &information);
    if (folder == INVALID_HANDLE_VALUE) return false;
    bool own = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
               !IsReparsePoint(information.dwFileAttributes);
    if (own && !Is95Family()) {
        BYTE buffer[1024];
        DWORD needed = 0;
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        BYTE user[SECURITY_MAX_SID_SIZE];
        own = GetKernelObjectSecurity(folder, OWNER_SECURITY_INFORMATION, buffer, sizeof buffer, &needed) &&
              GetSecurityDescriptorOwner(buffer, &owner, &defaulted) && owner;
        if (own)
            own = (ReadTokenUser(user, sizeof user) && EqualSid(owner, user)) ||
                  IsAdministratorsOrSystem(owner);
    }
    CloseHandle(folder);
    return own;
}
