// The download folder, its registry record, its removal and the path helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/process_win.h"
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
    // The system keeps three characters of the prefix: "insXXXX.tmp".
    EXPECT_EQ(0, _strnicmp("ins", leaf.c_str(), 3)) << leaf;
    EXPECT_EQ(0, _stricmp(".tmp", leaf.c_str() + leaf.size() - 4)) << leaf;
    EXPECT_EQ(std::string::npos, leaf.find('\\'));
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
    ScratchDir parent("dlparent");
    const std::string wanted = parent / "session";
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

TEST_F(DownloadFolderTest, FolderWhoseParentIsMissingFails) {
    ScratchDir parent("dlmissing");
    const std::string wanted = parent / "gone\\session";
    WriteRecord(REG_SZ, wanted.c_str(), static_cast<DWORD>(wanted.size() + 1));
    EXPECT_EQ(0, OpenDownloadFolder(&folder));
    folder.path[0] = '\0';
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
