// Tests of the extraction library cvgetex.dll, loaded from the bin folder as
// the program loads it, on archives made at test time (make_archives.py).
#include <windows.h>

#include <gtest/gtest.h>

#include "test_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

typedef int(__cdecl* UnzipPackageFunction)(const char*, const char*, int);

// Every file below a folder, relative, with "\" separators; folders end in "\".
void ListTree(const std::string& root, const std::string& prefix, std::vector<std::string>* out) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((root + "\\" + prefix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(prefix + name + "\\");
            ListTree(root, prefix + name + "\\", out);
        } else {
            out->push_back(prefix + name);
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

void RemoveTree(const std::string& root) {
    std::vector<std::string> entries;
    ListTree(root, "", &entries);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        std::string path = root + "\\" + *it;
        if (it->back() == '\\') {
            path.pop_back();
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    RemoveDirectoryA(root.c_str());
}

class ExtractionLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library = LoadLibraryA("cvgetex.dll");
        if (library)
            unzip = (UnzipPackageFunction)GetProcAddress(library, "UnzipPackage");
    }

    void SetUp() override {
        ASSERT_NE(unzip, nullptr) << "cvgetex.dll or its UnzipPackage not found";
        const char* data = getenv("CV_TEST_DATA");
        ASSERT_NE(data, nullptr) << "CV_TEST_DATA not set (make_test_data.sh)";
        dataDir = WindowsPath(data);
        char name[64];
        snprintf(name, sizeof name, "\\out-%lu-%d", GetCurrentProcessId(), ++counter);
        target = dataDir + name;
        RemoveTree(target);
    }

    void TearDown() override { RemoveTree(target); }

    int Unpack(const std::string& archive, int flag = 0) {
        return unzip((dataDir + "\\" + archive).c_str(), target.c_str(), flag);
    }

    std::string Tree(const std::string& name) {
        std::string path = dataDir + "\\tree\\" + name;
        for (char& c : path)
            if (c == '/') c = '\\';
        return ReadFileText(path);
    }

    std::vector<std::string> Listing() {
        std::vector<std::string> entries;
        ListTree(target, "", &entries);
        return entries;
    }

    void ExpectWholeTree(bool withEmptyFolder) {
        const char* names[] = {"top.txt", "sub/inner/deep.txt", "sub/noise.bin", "sub/text.txt",
                               "empty.dat"};
        for (const char* name : names) {
            std::string path = target + "\\" + name;
            for (char& c : path)
                if (c == '/') c = '\\';
            EXPECT_EQ(ReadFileText(path), Tree(name)) << name;
        }
        EXPECT_EQ(Exists(target + "\\emptyfolder"), withEmptyFolder);
        // Nothing but the archive's own entries: no temporary files left over.
        size_t expected = withEmptyFolder ? 8 : 7;
        EXPECT_EQ(Listing().size(), expected);
    }

    static HMODULE library;
    static UnzipPackageFunction unzip;
    static int counter;
    std::string dataDir;
    std::string target;
};

HMODULE ExtractionLibrary::library = nullptr;
UnzipPackageFunction ExtractionLibrary::unzip = nullptr;
int ExtractionLibrary::counter = 0;

TEST_F(ExtractionLibrary, UnpacksEveryFormatWithNestedFoldersIntoANewTarget) {
    // The target and its parent do not exist yet: both are created.
    target += "\\deeper";
    EXPECT_EQ(Unpack("stored.cab"), 1);
    ExpectWholeTree(false);
    RemoveTree(target);
    EXPECT_EQ(Unpack("mszip.cab"), 1);
    ExpectWholeTree(false);
    RemoveTree(target);
    EXPECT_EQ(Unpack("stored.zip"), 1);
    ExpectWholeTree(true);
    RemoveTree(target);
    EXPECT_EQ(Unpack("deflated.zip"), 1);
    ExpectWholeTree(true);
    target.resize(target.size() - strlen("\\deeper"));
}

TEST_F(ExtractionLibrary, FlagOneKeepsExistingFilesAndZeroReplacesThem) {
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    WriteFileText(target + "\\top.txt", "edited by the user");
    EXPECT_EQ(Unpack("mszip.cab", 1), 1);
    EXPECT_EQ(ReadFileText(target + "\\top.txt"), "edited by the user");
    EXPECT_EQ(ReadFileText(target + "\\sub\\text.txt"), Tree("sub/text.txt"));

    EXPECT_EQ(Unpack("deflated.zip", 1), 1);
    EXPECT_EQ(ReadFileText(target + "\\top.txt"), "edited by the user");

    EXPECT_EQ(Unpack("deflated.zip", 0), 1);
    EXPECT_EQ(ReadFileText(target + "\\top.txt"), Tree("top.txt"));
    WriteFileText(target + "\\top.txt", "edited again");
    EXPECT_EQ(Unpack("stored.cab", 0), 1);
    EXPECT_EQ(ReadFileText(target + "\\top.txt"), Tree("top.txt"));
}

TEST_F(ExtractionLibrary, RefusesUnsafeNamesWithoutWritingAnything) {
    const char* archives[] = {
        "climb.cab",
        "absolute.cab",
        "drive.cab",
        "unsafe-climb.zip",
        "unsafe-climb-backslash.zip",
        "unsafe-climb-nested.zip",
        "unsafe-climb-dots.zip",
        "unsafe-absolute.zip",
        "unsafe-absolute-backslash.zip",
        "unsafe-drive.zip",
        "unsafe-share.zip",
        "unsafe-stream.zip",
        "unsafe-device.zip",
    };
    for (const char* archive : archives) {
        EXPECT_EQ(Unpack(archive), 0) << archive;
        // Not even the harmless entry before the unsafe one, nor the target.
        EXPECT_FALSE(Exists(target)) << archive;
        EXPECT_FALSE(Exists(dataDir + "\\evil.txt")) << archive;
        EXPECT_FALSE(Exists("Z:\\evil.txt")) << archive;
        EXPECT_FALSE(Exists("C:\\evil.txt")) << archive;
        RemoveTree(target);
    }
}

TEST_F(ExtractionLibrary, DamagedArchivesFailAndLeaveTheTargetAsItWas) {
    const char* archives[] = {
        "badcrc-stored.zip", "badcrc-deflated.zip", "badsum-stored.cab", "badsum-mszip.cab",
        "cut-stored.zip",    "cut-deflated.zip",    "cut-stored.cab",    "cut-mszip.cab",
        "not-an-archive.zip", "no-such-archive.cab",
    };
    for (const char* archive : archives) {
        RemoveTree(target);
        ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        WriteFileText(target + "\\top.txt", "kept");
        EXPECT_EQ(Unpack(archive), 0) << archive;
        std::string left;
        for (const std::string& entry : Listing()) left += entry + " ";
        EXPECT_EQ(left, "top.txt ") << archive;
        EXPECT_EQ(ReadFileText(target + "\\top.txt"), "kept") << archive;
    }
}

TEST_F(ExtractionLibrary, AFailureWhileWritingLeavesNoTemporaryFile) {
    // "sub" is a file, so the entries below it cannot be written; what was
    // written before stays complete, and nothing half-written remains.
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    WriteFileText(target + "\\sub", "in the way");
    EXPECT_EQ(Unpack("mszip.cab"), 0);
    EXPECT_EQ(Unpack("deflated.zip"), 0);
    for (const std::string& entry : Listing()) {
        EXPECT_TRUE(entry == "sub" || entry == "top.txt" || entry == "empty.dat") << entry;
    }
    EXPECT_EQ(ReadFileText(target + "\\sub"), "in the way");
}

TEST_F(ExtractionLibrary, RefusesMissingArguments) {
    EXPECT_EQ(unzip(nullptr, target.c_str(), 0), 0);
    EXPECT_EQ(unzip((dataDir + "\\stored.zip").c_str(), nullptr, 0), 0);
    EXPECT_EQ(unzip((dataDir + "\\stored.zip").c_str(), "", 0), 0);
    EXPECT_FALSE(Exists(target));
}

// The program hands over UTF-8 paths where it runs in UTF-8, as this test
// program does; names in the archives keep the encodings they were made in.
TEST_F(ExtractionLibrary, NamesBeyondAsciiInTheTargetAndInTheArchives) {
    ASSERT_EQ(static_cast<UINT>(CP_UTF8), GetACP());
    const std::string base = target;
    target += "\\\xD0\x97\xD0\xB0\xD0\xB3-\xE4\xB8\x8B-\xC3\xA9";  // Cyrillic, Han, Latin
    EXPECT_EQ(Unpack("legacy-name.cab"), 1);
    EXPECT_EQ(ReadFileText(target + "\\caf\xC3\xA9.txt"), "legacy name\r\n");
    EXPECT_EQ(Unpack("names.zip"), 1);
    EXPECT_EQ(ReadFileText(target + "\\caf\xC3\xA9-437.txt"), "code page 437\r\n");
    EXPECT_EQ(ReadFileText(target + "\\\xD0\xBF\xD1\x80\xD0\xB8-\xE4\xB8\x8B.txt"), "marked UTF-8\r\n");
    target = base;
}

}  // namespace
