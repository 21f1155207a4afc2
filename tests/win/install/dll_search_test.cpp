// The extraction library is taken only by its full path in the download
// folder: a cvgetex.dll left beside the program or in the current directory
// (the user's downloads, say) is never loaded. Each case runs the probe in a
// process of its own, from a folder of its own, since a loaded library
// stays for the process.
#include <windows.h>

#include <gtest/gtest.h>

#include "test_files.h"

#include <stdlib.h>
#include <string>

namespace {

void RemoveTree(const std::string& root) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((root + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = root + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(root.c_str());
}

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override {
        const char* data = getenv("CV_TEST_DATA");
        const char* bin = getenv("CV_BIN_DIR");
        ASSERT_NE(data, nullptr);
        ASSERT_NE(bin, nullptr);
        dataDir = WindowsPath(data);
        binDir = WindowsPath(bin);
        work = dataDir + "\\planting-" + std::to_string(GetCurrentProcessId());
        RemoveTree(work);
        program = work + "\\program";
        download = work + "\\download";
        current = work + "\\current";
        for (const std::string& d : {work, program, download, current})
            ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr)) << d;
        Copy(binDir + "\\cv_unpack_probe.exe", program + "\\probe.exe");
        Copy(dataDir + "\\data.zip", download + "\\data.zip");
        // The stranger's library waits in the current directory.
        Copy(binDir + "\\..\\planted\\cvgetex.dll", current + "\\cvgetex.dll");
    }

    void TearDown() override { RemoveTree(work); }

    static void Copy(const std::string& from, const std::string& to) {
        ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
    }

    // Runs the probe from the program folder with `current` as its current
    // directory; returns its report.
    std::string Probe(const char* mode = "program") {
        std::string report = work + "\\report.txt";
        DeleteFileA(report.c_str());
        std::string command = "\"" + program + "\\probe.exe\" " + mode + " \"" + report + "\" \"" + download +
                              "\\data.zip\" \"" + work + "\\unpacked\" \"" + download + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            current.c_str(), &startup, &process))
            return "<not started>";
        DWORD waited = WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (waited != WAIT_OBJECT_0) return "<still running>";
        return ReadFileText(report);
    }

    std::string dataDir, binDir, work, program, download, current;
};

TEST_F(DllPlanting, OnlyTheDownloadFolderGivesTheLibrary) {
    // The real library in the download folder is the one called.
    Copy(binDir + "\\cvgetex.dll", download + "\\cvgetex.dll");
    EXPECT_EQ("result=1\nmodule=" + download + "\\cvgetex.dll\n", Probe());
    EXPECT_EQ("map one\r\n", ReadFileText(work + "\\unpacked\\maps\\level1.map"));

    // One beside the program (the user's downloads, say) is never taken:
    // not before the download folder's ...
    Copy(binDir + "\\..\\planted\\cvgetex.dll", program + "\\cvgetex.dll");
    EXPECT_EQ("result=1\nmodule=" + download + "\\cvgetex.dll\n", Probe());

    // ... and not in its place: with no library in the download folder the
    // extraction fails rather than call a stranger's, beside the program or
    // in the current directory.
    ASSERT_TRUE(DeleteFileA((download + "\\cvgetex.dll").c_str()));
    EXPECT_EQ("result=0\nmodule=none\n", Probe());
}

TEST_F(DllPlanting, EachOfTheTwoDefencesHoldsAlone) {
    // The loading rule without the narrowed search ...
    EXPECT_EQ("result=0\nmodule=none\n", Probe("unnarrowed"));
    Copy(binDir + "\\cvgetex.dll", download + "\\cvgetex.dll");
    EXPECT_EQ("result=1\nmodule=" + download + "\\cvgetex.dll\n", Probe("unnarrowed"));
    // ... and the narrowed search without the rule: even a bare name is
    // looked for in the system folder only.
    EXPECT_EQ("result=0\nmodule=none\n", Probe("bare"));
}

}  // namespace
