// The download folder, its registry record, its removal and the path helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/own_folder_win.h"
#include "base/process_win.h"
#include "base/work_folder.h"
#include "setup/download_folder_win.h"
#include "setup_test_support.h"

using setuptest::Exists;
using setuptest::ScratchDir;

namespace {

const char kKey[] = "Software\\Corvane\\CvGet";

bool ReadRecord(std::string* value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char buffer[MAX_PATH + 1] = "";
    DWORD size = MAX_PATH, type = 0;
    LONG status = RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                                   &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::strlen(buffer) + 1, size);  // stored with its terminator
    *value = buffer;
    return true;
}

void WriteRecord(DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, "Path", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

bool IsDirectory(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Every test starts without a record and leaves none behind.
class DownloadFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        secondInstance = 0;
        folder.instance = GetModuleHandleA(nullptr);
        folder.path[0] = '\0';
    }
    void TearDown() override {
        secondInstance = 0;
        if (folder.path[0] && std::strlen(folder.path) > 5) setuptest::RemoveAll(folder.path);
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    }
    DownloadFolder folder;
};

}  // namespace

TEST_F(DownloadFolderTest, FirstRunMakesRecordedTempFolderSecondRunReusesIt) {
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = folder.path;
    ASSERT_EQ(0, _strnicmp(temp, path.c_str(), std::strlen(temp))) << path;
    const std::string leaf = path.substr(std::strlen(temp));
    // "inst", eight hex digits, ".tmp".
    EXPECT_EQ(16u, leaf.size()) << leaf;
    EXPECT_EQ(0, std::strncmp("inst", leaf.c_str(), 4)) << leaf;
    EXPECT_TRUE(IsDownloadFolderName(leaf.c_str())) << leaf;
    EXPECT_TRUE(IsDirectory(path));
    std::string recorded;
    ASSERT_TRUE(ReadRecord(&recorded));
    EXPECT_EQ(path, recorded);

    DownloadFolder again;
    again.instance = folder.instance;
    ASSERT_EQ(1, OpenDownloadFolder(&again));
    EXPECT_STREQ(folder.path, again.path);

    ASSERT_EQ(1, RemoveDownloadFolder(&folder));
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(ReadRecord(&recorded));
}

TEST_F(DownloadFolderTest, RecordedFolderThatVanishedIsMadeAgain) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string wanted = std::string(temp) + "inst0000beef.tmp";
    setuptest::RemoveAll(wanted);
    WriteRecord(REG_SZ, wanted.c_str(), static_cast<DWORD>(wanted.size() + 1));
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    EXPECT_EQ(wanted, folder.path);
    EXPECT_TRUE(IsDirectory(wanted));
}

TEST_F(DownloadFolderTest, UnusableRecordsLeadToAFreshFolder) {
    const DWORD number = 7;
    WriteRecord(REG_DWORD, &number, sizeof number);
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    EXPECT_TRUE(IsDirectory(folder.path));
    std::string recorded;
    ASSERT_TRUE(ReadRecord(&recorded));
    EXPECT_EQ(folder.path, recorded);
    setuptest::RemoveAll(folder.path);

    WriteRecord(REG_SZ, "", 1);
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    EXPECT_GT(std::strlen(folder.path), 5u);
    EXPECT_TRUE(IsDirectory(folder.path));
}

// The record is a value any program of the user can write: a folder it
// names is taken up only when the program made it, and removed only then.
TEST_F(DownloadFolderTest, RecordsNamingOtherFoldersAreNeitherTakenUpNorRemoved) {
    ScratchDir other("dlother");
    setuptest::WriteFile(other / "keep.txt", "mine");
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string nested = other / "inst00000001.tmp";
    ASSERT_TRUE(CreateDirectoryA(nested.c_str(), nullptr));
    const std::string aFile = std::string(temp) + "inst00000002.tmp";
    setuptest::WriteFile(aFile, "a file of that name");
    for (const std::string& named : {other.path, nested, aFile, std::string(temp) + "..\\inst00000003.tmp"}) {
        WriteRecord(REG_SZ, named.c_str(), static_cast<DWORD>(named.size() + 1));
        ASSERT_EQ(1, OpenDownloadFolder(&folder)) << named;
        EXPECT_NE(named, folder.path);
        EXPECT_TRUE(IsDownloadFolderName(std::strrchr(folder.path, '\\') + 1)) << folder.path;
        std::string recorded;
        ASSERT_TRUE(ReadRecord(&recorded));
        EXPECT_EQ(folder.path, recorded);
        setuptest::RemoveAll(folder.path);

        DownloadFolder foreign = {};
        foreign.instance = folder.instance;
        std::strcpy(foreign.path, named.c_str());
        EXPECT_EQ(0, RemoveDownloadFolder(&foreign)) << named;
    }
    EXPECT_EQ("mine", setuptest::ReadFile(other / "keep.txt"));
    EXPECT_TRUE(IsDirectory(nested));
    EXPECT_EQ("a file of that name", setuptest::ReadFile(aFile));
    DeleteFileA(aFile.c_str());
}

TEST_F(DownloadFolderTest, RemovesNestedTreeWhateverTheAttributes) {
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    const std::string root = folder.path;
    const std::string a = root + "\\a", ab = a + "\\b", hidden = root + "\\h";
    ASSERT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(ab.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(hidden.c_str(), nullptr));
    setuptest::WriteFile(root + "\\top.txt", "1");
    setuptest::WriteFile(ab + "\\deep.bin", "2");
    setuptest::WriteFile(hidden + "\\in.txt", "3");
    SetFileAttributesA(hidden.c_str(),
                       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesA(ab.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE |
                                        FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(1, RemoveDownloadFolder(&folder));
    EXPECT_FALSE(Exists(root));
    std::string recorded;
    EXPECT_FALSE(ReadRecord(&recorded));
}

bool RemovalPending() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD mark = 0, size = sizeof mark, type = 0;
    LONG status = RegQueryValueExA(key, "RemovePending", nullptr, &type, reinterpret_cast<BYTE*>(&mark), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && mark == 1;
}

// A file that stays open through every try keeps the folder; its record
// stays, marked, and the next start removes both. A folder that is taken up
// again before that is no longer marked, so a suspended download in it is
// never removed at a start.
TEST_F(DownloadFolderTest, FolderHeldOpenKeepsItsMarkedRecordForTheNextStart) {
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    const std::string root = folder.path;
    const std::string part = root + "\\file002.bin";
    HANDLE held = CreateFileA(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, RemoveDownloadFolder(&folder));
    EXPECT_TRUE(Exists(part));
    std::string recorded;
    ASSERT_TRUE(ReadRecord(&recorded));
    EXPECT_EQ(root, recorded);
    EXPECT_TRUE(RemovalPending());
    // Still held at the next start: it stays marked for the one after.
    EXPECT_EQ(0, RemoveLeftoverDownloadFolder(folder.instance));
    EXPECT_TRUE(RemovalPending());
    CloseHandle(held);

    // A second instance leaves it alone; a first one removes it.
    secondInstance = 1;
    EXPECT_EQ(0, RemoveLeftoverDownloadFolder(folder.instance));
    EXPECT_TRUE(Exists(root));
    secondInstance = 0;
    EXPECT_EQ(1, RemoveLeftoverDownloadFolder(folder.instance));
    EXPECT_FALSE(Exists(root));
    EXPECT_FALSE(ReadRecord(&recorded));

    // Taken up again by a session before any start removed it.
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    const std::string part2 = std::string(folder.path) + "\\file002.bin";
    held = CreateFileA(part2.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, RemoveDownloadFolder(&folder));
    CloseHandle(held);
    DownloadFolder again;
    again.instance = folder.instance;
    ASSERT_EQ(1, OpenDownloadFolder(&again));
    EXPECT_STREQ(folder.path, again.path);
    EXPECT_FALSE(RemovalPending());
    EXPECT_EQ(0, RemoveLeftoverDownloadFolder(folder.instance));
    EXPECT_TRUE(Exists(again.path));
}

// A marked record that names another folder removes nothing at a start.
TEST_F(DownloadFolderTest, AMarkedRecordNamingAnotherFolderRemovesNothing) {
    ScratchDir other("dlmarked");
    setuptest::WriteFile(other / "keep.txt", "mine");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                             nullptr));
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.path.c_str()),
                   static_cast<DWORD>(other.path.size() + 1));
    DWORD mark = 1;
    RegSetValueExA(key, "RemovePending", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mark), sizeof mark);
    RegCloseKey(key);
    EXPECT_EQ(0, RemoveLeftoverDownloadFolder(folder.instance));
    EXPECT_EQ("mine", setuptest::ReadFile(other / "keep.txt"));
}

// Without a marked record a start removes nothing.
TEST_F(DownloadFolderTest, UnmarkedFolderIsLeftToItsRun) {
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    EXPECT_EQ(0, RemoveLeftoverDownloadFolder(folder.instance));
    EXPECT_TRUE(IsDirectory(folder.path));
}

TEST_F(DownloadFolderTest, SecondInstanceAndShortPathsAreNeverRemoved) {
    ASSERT_EQ(1, OpenDownloadFolder(&folder));
    setuptest::WriteFile(std::string(folder.path) + "\\keep.txt", "x");
    secondInstance = 1;
    EXPECT_EQ(0, RemoveDownloadFolder(&folder));
    EXPECT_TRUE(Exists(std::string(folder.path) + "\\keep.txt"));
    std::string recorded;
    EXPECT_TRUE(ReadRecord(&recorded));
    secondInstance = 0;

    for (const char* shortPath : {"", "C:\\", "C:\\ab", "Z:"}) {
        DownloadFolder root;
        root.instance = folder.instance;
        std::strcpy(root.path, shortPath);
        EXPECT_EQ(0, RemoveDownloadFolder(&root)) << shortPath;
    }
    EXPECT_TRUE(ReadRecord(&recorded));
    EXPECT_TRUE(Exists("C:\\windows"));
}

TEST(PathHelpersTest, CreatesEveryParentButNotTheLastPart) {
    ScratchDir dir("parents");
    const std::string file = dir.path + "\\one/two\\three\\file.txt";
    EXPECT_EQ(1, CreateParentDirectories(file.c_str()));
    EXPECT_TRUE(IsDirectory(dir / "one\\two\\three"));
    EXPECT_FALSE(Exists(dir / "one\\two\\three\\file.txt"));
    // Existing directories and a file name without directories are fine.
    EXPECT_EQ(1, CreateParentDirectories(file.c_str()));
    EXPECT_EQ(1, CreateParentDirectories("plainname.txt"));
}

TEST(PathHelpersTest, JoinPathCutsToTheBuffer) {
    char out[MAX_PATH + 16];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(out, JoinPath("C:\\dir", "sub\\file.inf", out));
    EXPECT_STREQ("C:\\dir\\sub\\file.inf", out);
    std::string longName(400, 'n');
    JoinPath("C:\\dir", longName.c_str(), out);
    EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), std::strlen(out));
    EXPECT_EQ('X', out[MAX_PATH]);
}

namespace {

struct KnownSids {
    KnownSids() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &admins);
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system);
        HANDLE token;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, userBuffer, sizeof userBuffer, &size);
        CloseHandle(token);
        user = reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid;
    }
    ~KnownSids() {
        FreeSid(admins);
        FreeSid(system);
    }
    // "user", "admins", "system" or "other".
    std::string Name(PSID sid) const {
        if (EqualSid(sid, user)) return "user";
        if (EqualSid(sid, admins)) return "admins";
        if (EqualSid(sid, system)) return "system";
        return "other";
    }
    PSID admins = nullptr;
    PSID system = nullptr;
    PSID user = nullptr;
    BYTE userBuffer[256];
};

// The allowed ACEs of a list as "who:mask:flags"; "other" for any other
// kind of ACE.
std::vector<std::string> Entries(PACL acl, const KnownSids& sids) {
    std::vector<std::string> entries;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(acl, i, &ace);
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            entries.push_back("other");
            continue;
        }
        const ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        char text[64];
        snprintf(text, sizeof text, ":%lx:%x", static_cast<unsigned long>(allowed->Mask), header->AceFlags);
        entries.push_back(sids.Name(const_cast<DWORD*>(&allowed->SidStart)) + text);
    }
    return entries;
}

std::vector<std::string> ReadBackEntries(const std::string& path, const KnownSids& sids) {
    BYTE buffer[4096];
    DWORD needed = 0;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed)) return {"none"};
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted);
    return Entries(present ? acl : nullptr, sids);
}

std::vector<unsigned long> numbersToTry;
unsigned long NextNumber() {
    unsigned long n = numbersToTry.front();
    numbersToTry.erase(numbersToTry.begin());
    return n;
}

}  // namespace

// What the program asks of the system for its folders: full control for
// the account, the Administrators and SYSTEM, passed to everything inside,
// nothing inherited; the elevated half of a split account leaves its own
// user SID out and gives the folder to the Administrators.
TEST(OwnFolderTest, TheAccessListAsked) {
    KnownSids sids;
    const std::string all = ":1f01ff:3";
    OwnFolderSecurity account(FolderOfTheAccount);
    ASSERT_NE(nullptr, account.Attributes());
    PSECURITY_DESCRIPTOR descriptor = account.Attributes()->lpSecurityDescriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    EXPECT_EQ((std::vector<std::string>{"user" + all, "admins" + all, "system" + all}), Entries(acl, sids));

    OwnFolderSecurity elevation(FolderOfThisElevation);
    ASSERT_NE(nullptr, elevation.Attributes());
    descriptor = elevation.Attributes()->lpSecurityDescriptor;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    PSID owner = nullptr;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    if (HasUnelevatedTwin()) {
        EXPECT_EQ((std::vector<std::string>{"admins" + all, "system" + all}), Entries(acl, sids));
        ASSERT_NE(nullptr, owner);
        EXPECT_EQ("admins", sids.Name(owner));
    } else {
        EXPECT_EQ((std::vector<std::string>{"user" + all, "admins" + all, "system" + all}), Entries(acl, sids));
        EXPECT_EQ(nullptr, owner);
    }
}

// What the system keeps of it. Wine keeps no access list: it turns the
// list into the Unix mode bits of the folder and reads back the owner's
// and everyone's access from them (and SYSTEM's, always), without the
// Administrators and without the protection. So read back, anyone besides
// the account, the Administrators and SYSTEM is left out, where a folder
// made plainly in the temporary folder lets everyone read.
TEST(OwnFolderTest, ReadBackTheFolderGrantsNobodyElse) {
    KnownSids sids;
    ScratchDir dir("ownacl");
    const std::string own = dir / "own";
    ASSERT_TRUE(CreateOwnFolder(own.c_str(), FolderOfTheAccount));
    std::vector<std::string> entries = ReadBackEntries(own, sids);
    ASSERT_FALSE(entries.empty());
    for (const std::string& e : entries) EXPECT_NE("other", e.substr(0, e.find(':'))) << e;
    const std::string plain = dir / "plain";
    ASSERT_TRUE(CreateDirectoryA(plain.c_str(), nullptr));
    bool someoneElse = false;
    for (const std::string& e : ReadBackEntries(plain, sids)) someoneElse |= e.substr(0, e.find(':')) == "other";
    EXPECT_TRUE(someoneElse) << "a plain folder reads back like an own one: the test proves nothing";
    // (Nor does Wine pass the list on to files made inside, as Windows
    // does.)
    setuptest::WriteFile(own + "\\file.txt", "x");
    EXPECT_TRUE(IsOwnFolder(own.c_str()));
    EXPECT_FALSE(IsOwnFolder((own + "\\file.txt").c_str()));
    EXPECT_FALSE(IsOwnFolder((dir / "missing").c_str()));
}

TEST(OwnFolderTest, ANameThatExistsIsNeverTaken) {
    ScratchDir dir("ownname");
    const std::string taken = dir / "cvst00000011.tmp";
    ASSERT_TRUE(CreateDirectoryA(taken.c_str(), nullptr));
    setuptest::WriteFile(taken + "\\theirs.txt", "theirs");
    EXPECT_FALSE(CreateOwnFolder(taken.c_str(), FolderOfTheAccount));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());

    numbersToTry = {0x11, 0x11, 0x22};
    char made[MAX_PATH];
    ASSERT_TRUE(MakeOwnFolder(dir.path.c_str(), "cvst", FolderOfTheAccount, made, sizeof made, NextNumber));
    EXPECT_EQ(dir / "cvst00000022.tmp", made);
    EXPECT_TRUE(numbersToTry.empty());
    EXPECT_EQ("theirs", setuptest::ReadFile(taken + "\\theirs.txt"));

    // A parent that refuses every name ends the tries; a name too long for
    // a path is not cut.
    numbersToTry.assign(100, 0x11);
    EXPECT_FALSE(MakeOwnFolder(dir.path.c_str(), "cvst", FolderOfTheAccount, made, sizeof made, NextNumber));
    EXPECT_FALSE(MakeOwnFolder((dir.path + "\\" + std::string(250, 'n')).c_str(), "cvst", FolderOfTheAccount, made,
                               sizeof made));
    EXPECT_FALSE(MakeOwnFolder((dir / "missing").c_str(), "cvst", FolderOfTheAccount, made, sizeof made));
}
