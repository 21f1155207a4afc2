// Folders that are the program's own: made under a fresh name, with an
// access list of their own that nobody else's process can change, so that
// what the program unpacks or runs there is what it put there. A system
// account (management tools run unattended setups as SYSTEM) has the
// Windows temporary folder as its own, in which ordinary users may create
// and write subfolders; inheriting from there would let them in.
#pragma once
#include <windows.h>

enum FolderUsers {
    // SYSTEM, the Administrators and the account running the program: the
    // download folder, which the account's later starts take up again.
    FolderOfTheAccount = 0,
    // SYSTEM and the Administrators only, when this process is the elevated
    // half of an account that also runs unelevated (its unelevated
    // processes share its user SID, but not its Administrators group);
    // otherwise as FolderOfTheAccount. For what an elevated install unpacks
    // and runs.
    FolderOfThisElevation = 1,
};

// The security descriptor of such a folder: an explicit, protected access
// list (nothing inherited from the parent) granting full control to the
// folder's users, to its files and subfolders too. Attributes() is null
// when it cannot be built; on the 95 family, which keeps no access lists,
// Attributes() is null and Needed() false.
class OwnFolderSecurity {
public:
    explicit OwnFolderSecurity(FolderUsers users);
    ~OwnFolderSecurity();
    SECURITY_ATTRIBUTES* Attributes() { return built ? &attributes : nullptr; }
    bool Needed() const { return needed; }

private:
    OwnFolderSecurity(const OwnFolderSecurity&);
    void operator=(const OwnFolderSecurity&);
    bool needed;
    bool built;
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    PSID admins;
    PSID system;
    BYTE user[SECURITY_MAX_SID_SIZE];
    BYTE acl[512];
};

// Whether this process runs elevated while its account also has an
// unelevated token (the system asked before giving it administrator
// rights).
bool HasUnelevatedTwin();

// Creates the folder `path` (its parent must exist) with the access list of
// `users`. Fails, as CreateDirectory does, when something of that name
// exists: a name that someone else made is never taken.
bool CreateOwnFolder(const char* path, FolderUsers users);

// Makes a folder of a fresh name, `prefix` followed by eight hex digits and
// ".tmp", in `parent`, trying other names while one exists; writes its
// path to `out`. `numbers` gives the numbers to try (null: random numbers
// of the system).
bool MakeOwnFolder(const char* parent, const char* prefix, FolderUsers users, char* out, int size,
                   unsigned long (*numbers)() = nullptr);

// Whether an existing folder may be taken up as the program's own: a
// directory, not a link or other reparse point, owned by the account
// running the program, the Administrators or SYSTEM (a folder someone else
// made in a shared temporary folder is theirs).
bool IsOwnFolder(const char* path);

// Opens a file or folder itself, never what a link points to (`flags` are
// added to FILE_FLAG_OPEN_REPARSE_POINT and FILE_FLAG_BACKUP_SEMANTICS),
// and reads its information from the open entry, with the reparse point
// bit added from its path as well (Wine shows a link in the attributes of
// its path only). INVALID_HANDLE_VALUE when it cannot be opened or
// examined.
HANDLE OpenEntryItself(const char* path, DWORD access, DWORD share, DWORD flags,
                       BY_HANDLE_FILE_INFORMATION* information);
