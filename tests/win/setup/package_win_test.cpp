// Extraction of packages made by cvpack, and of damaged or hostile ones,
// into a download folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/package_win.h"
#include "setup/profile_win.h"
#include "setup_test_support.h"

using setuptest::Exists;
using setuptest::ReadFile;
using setuptest::ScratchDir;

namespace {

// Runs the Windows cvpack beside this test; its exit code, or -1.
int RunCvpack(const std::string& arguments, const std::string& directory) {
    std::string command = "\"" + setuptest::BinPath("cvpack.exe") + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        directory.c_str(), &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

std::string Record(const std::string& name, const std::string& data, int nameLength = -1) {
    unsigned char header[8];
    MakeRecordHeader(header, static_cast<uint32_t>(data.size()),
                     static_cast<uint16_t>(nameLength < 0 ? name.size() + 1 : nameLength));
    return std::string(reinterpret_cast<char*>(header), 8) + name + std::string(1, '\0') + data;
}

std::string Trailer(uint32_t first) {
    unsigned char t[16];
    MakeTrailer(t, first);
    return std::string(reinterpret_cast<char*>(t), 16);
}

// What the handler saw: each description's path, the files present at that
// moment, and the components its [defs] section names.
struct Seen {
    std::string folder;
    std::vector<std::string> infs;
    std::vector<std::string> components;
    std::vector<bool> laterFileExisted;
};

void OnInf(const char* path, void* context) {
    Seen* seen = static_cast<Seen*>(context);
    seen->infs.push_back(path);
    char components[300];
    ReadSetting("defs", "components", "", components, sizeof components, path);
    seen->components.push_back(components);
    seen->laterFileExisted.push_back(Exists(seen->folder + "\\data\\late.bin"));
}

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProfileCache();
        seen.folder = folder.path;
        setuptest::WriteFile(work / "base.exe", std::string(4100, 'M'));
    }
    int Extract(const std::string& program) {
        return ExtractPackage(program.c_str(), folder.path.c_str(), OnInf, &seen);
    }
    // A package written byte by byte around the base executable.
    std::string Craft(const std::string& records) {
        const std::string path = work / "crafted.exe";
        setuptest::WriteFile(path, std::string(4100, 'M') + records + Trailer(4100));
        return path;
    }

    ScratchDir work{"pkgwork"};
    ScratchDir folder{"pkgfolder"};
    Seen seen;
};

}  // namespace

TEST_F(ExtractTest, WritesEveryRecordAndReadsEachDescriptionAtOnce) {
    std::string big;
    for (int i = 0; i < 5000; ++i) big += static_cast<char>('a' + i % 26);
    setuptest::WriteFile(work / "first.inf", "[defs]\r\ncomponents=one,two\r\n");
    setuptest::WriteFile(work / "second.INF", "[defs]\r\ncomponents=three\r\n");
    setuptest::WriteFile(work / "big.bin", big);
    setuptest::WriteFile(work / "chunk.bin", std::string(4096, 'c'));
    setuptest::WriteFile(work / "empty.bin", "");
    ASSERT_EQ(0, RunCvpack("pack packed.exe base.exe first.inf=first.inf data\\deep\\big.bin=big.bin "
                           "second.INF=second.INF data\\late.bin=chunk.bin empty.bin=empty.bin",
                           work.path));
    ASSERT_EQ(1, Extract(work / "packed.exe"));

    EXPECT_EQ(big, ReadFile(folder / "data\\deep\\big.bin"));
    EXPECT_EQ(std::string(4096, 'c'), ReadFile(folder / "data\\late.bin"));
    EXPECT_EQ("", ReadFile(folder / "empty.bin"));
    ASSERT_EQ(2u, seen.infs.size());
    EXPECT_EQ(folder / "first.inf", seen.infs[0]);
    EXPECT_EQ(folder / "second.INF", seen.infs[1]);
    EXPECT_EQ("one,two", seen.components[0]);
    EXPECT_EQ("three", seen.components[1]);
    // Each description is read before the records after it are written.
    EXPECT_FALSE(seen.laterFileExisted[0]);
    EXPECT_FALSE(seen.laterFileExisted[1]);
}

TEST_F(ExtractTest, ReplacesFilesLeftByAnEarlierRun) {
    setuptest::WriteFile(folder / "a.txt", "an older and longer content");
    setuptest::WriteFile(work / "a.txt", "new");
    ASSERT_EQ(0, RunCvpack("pack packed.exe base.exe a.txt=a.txt", work.path));
    ASSERT_EQ(1, Extract(work / "packed.exe"));
    EXPECT_EQ("new", ReadFile(folder / "a.txt"));
    EXPECT_TRUE(seen.infs.empty());
}

TEST_F(ExtractTest, NoPackageOrNoFileIsNotAFailure) {
    EXPECT_EQ(1, Extract(work / "base.exe"));
    EXPECT_EQ(1, Extract(work / "absent.exe"));
    EXPECT_TRUE(seen.infs.empty());
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder / "*").c_str(), &entry);
    int entries = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do ++entries;
        while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    EXPECT_EQ(2, entries);  // "." and ".." only
}

TEST_F(ExtractTest, TruncatedHeaderEndsQuietlyKeepingEarlierFiles) {
    ASSERT_EQ(1, Extract(Craft(Record("a.txt", "1") + std::string(5, '\x02'))));
    EXPECT_EQ("1", ReadFile(folder / "a.txt"));
}

TEST_F(ExtractTest, DamagedPackagesFailAndWriteNothingOutside) {
    // A record whose header claims more data than lies before the trailer.
    std::string pastTrailer = Record("ok.txt", "xyz");
    pastTrailer[0] = '\x40';
    const struct {
        const char* what;
        std::string record;
    } cases[] = {
        {"parent part", Record("..\\escaped.txt", "x")},
        {"nested parent part", Record("sub\\..\\..\\escaped.txt", "x")},
        {"absolute", Record("\\escaped.txt", "x")},
        {"drive", Record("C:\\escaped.txt", "x")},
        {"drive-relative", Record("C:escaped.txt", "x")},
        {"name length 0", Record("", "x", 0)},
        {"name longer than the buffer", Record(std::string(300, 'n'), "x")},
        {"data past the trailer", pastTrailer},
        {"unterminated name", Record("abc", "", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(0, Extract(Craft(Record("first.txt", "1") + c.record))) << c.what;
        EXPECT_EQ("1", ReadFile(folder / "first.txt")) << c.what;
        EXPECT_FALSE(Exists(folder.path + "\\..\\escaped.txt")) << c.what;
        EXPECT_FALSE(Exists(folder / "ok.txt")) << c.what;
    }
}

TEST_F(ExtractTest, TargetThatCannotBeWrittenFails) {
    CreateDirectoryA((folder / "taken").c_str(), nullptr);
    EXPECT_EQ(0, Extract(Craft(Record("taken", "x") + Record("after.inf", "[defs]"))));
    EXPECT_FALSE(Exists(folder / "after.inf"));
    EXPECT_TRUE(seen.infs.empty());
}

TEST_F(ExtractTest, PathTooLongForTheFolderFails) {
    // The folder, "\" and the name must fit a path: cutting it would write
    // some other file.
    const std::string name(MAX_PATH - folder.path.size() - 1, 'n');
    EXPECT_EQ(0, Extract(Craft(Record(name, "x"))));
}

TEST_F(ExtractTest, PackageFileWithoutTrailerGetsOneWhenOpenedWritable) {
    const std::string path = work / "base.exe";
    PackageFile package;
    ASSERT_EQ(1, OpenPackage(&package, path.c_str(), 1));
    EXPECT_EQ(1, package.trailerMissing);
    ClosePackage(&package);
    ASSERT_EQ(1, OpenPackage(&package, path.c_str(), 0));
    EXPECT_EQ(0, package.trailerMissing);
    EXPECT_EQ(4100u, FirstRecordOffset(&package));
    EXPECT_EQ(4100u, package.recordsEnd);
    ClosePackage(&package);
    EXPECT_EQ(0, OpenPackage(&package, (work / "absent.exe").c_str(), 0));
}
