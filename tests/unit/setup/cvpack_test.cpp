// cvpack pack and list as a publisher runs them, read back with the
// program's own package reader.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "setup/package_stdio.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class CvpackTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("cvpack-test-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        const char* bin = std::getenv("CV_BIN_DIR");
        tool = std::string(bin ? bin : ".") + "/cvpack";
        WriteAll(dir / "base.exe", std::string(3000, 'M'));
        WriteAll(dir / "setup.inf", "[defs]\r\ncomponents=a\r\n");
        std::string big;
        for (int i = 0; i < 70000; ++i) big += static_cast<char>(i * 7);
        WriteAll(dir / "big.bin", big);
        WriteAll(dir / "empty", "");
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs cvpack in the scratch directory; output and errors are kept.
    int Run(const std::string& arguments) {
        const std::string command = "cd '" + dir.string() + "' && '" + tool + "' " + arguments +
                                    " >stdout.txt 2>stderr.txt";
        const int status = std::system(command.c_str());
        out = ReadAll(dir / "stdout.txt");
        err = ReadAll(dir / "stderr.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir;
    std::string tool, out, err;
};

}  // namespace

TEST_F(CvpackTest, PacksInArgumentOrderAndListsNamesAndLengths) {
    ASSERT_EQ(0, Run("pack out.exe base.exe setup.inf=setup.inf sub/dir/big.bin=big.bin "
                     "'two\\second.inf=setup.inf' e=empty"))
        << err;
    ASSERT_EQ(0, Run("list out.exe")) << err;
    EXPECT_EQ("setup.inf\t22\nsub\\dir\\big.bin\t70000\ntwo\\second.inf\t22\ne\t0\n", out);

    const std::string packed = ReadAll(dir / "out.exe");
    EXPECT_EQ(std::string(3000, 'M'), packed.substr(0, 3000));  // the executable comes first
    // One zero byte after it makes the whole file a multiple of 8 long.
    EXPECT_EQ(std::string(1, '\0'), packed.substr(3000, 1));
    EXPECT_EQ(3001u + 4 * 8 + 10 + 22 + 16 + 70000 + 15 + 22 + 2 + 0 + 16, packed.size());

    PackageFile package;
    ASSERT_EQ(1, OpenPackageStdio(&package, (dir / "out.exe").c_str(), 0));
    EXPECT_EQ(0, package.trailerMissing);
    EXPECT_EQ(3001u, FirstRecordOffset(&package));
    uint32_t offset = FirstRecordOffset(&package);
    char name[kPackageNameMax];
    uint32_t length;
    ASSERT_EQ(RecordRead, ReadRecord(&package, &offset, name, sizeof name, &length));
    ASSERT_EQ(RecordRead, ReadRecord(&package, &offset, name, sizeof name, &length));
    std::string data(length, '\0');
    ASSERT_EQ(1, ReadRecordData(&package, &data[0], length));
    EXPECT_EQ(ReadAll(dir / "big.bin"), data);
    DetachPackage(&package);
}

TEST_F(CvpackTest, BadInputFailsClearlyAndLeavesOutUntouched) {
    WriteAll(dir / "out.exe", "previous");
    const struct {
        std::string arguments;
        const char* message;
    } cases[] = {
        {"pack out.exe missing.exe", "missing.exe"},
        {"pack out.exe base.exe a=missing.bin", "missing.bin"},
        {"pack out.exe base.exe a=.", "no such file"},
        {"pack out.exe base.exe noequals", "NAME=PATH"},
        {"pack out.exe base.exe =setup.inf", "NAME=PATH"},
        {"pack out.exe base.exe ../up=setup.inf", "relative"},
        {"pack out.exe base.exe 'C:\\x=setup.inf'", "relative"},
        {"pack out.exe base.exe /abs=setup.inf", "relative"},
        {"pack out.exe base.exe " + std::string(260, 'n') + "=setup.inf", "longer"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(1, Run(c.arguments)) << c.arguments;
        EXPECT_NE(std::string::npos, err.find(c.message)) << c.arguments << ": " << err;
        EXPECT_EQ("previous", ReadAll(dir / "out.exe")) << c.arguments;
    }
    EXPECT_EQ(1, Run("pack nodir/out.exe base.exe"));
    EXPECT_NE(std::string::npos, err.find("cannot be written")) << err;
    EXPECT_EQ(2, Run("pack out.exe"));
    EXPECT_EQ(2, Run("list"));
    // No partial file is ever left behind.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find("partial"));
}

TEST_F(CvpackTest, ListReportsMissingAndDamagedPackages) {
    EXPECT_EQ(1, Run("list base.exe"));
    EXPECT_NE(std::string::npos, err.find("no package")) << err;
    EXPECT_EQ(1, Run("list nothere.exe"));
    EXPECT_NE(std::string::npos, err.find("nothere.exe")) << err;

    ASSERT_EQ(0, Run("pack out.exe base.exe a=setup.inf b=big.bin"));
    std::string packed = ReadAll(dir / "out.exe");
    // Grow the second record's data length past the trailer (6 bytes of
    // padding precede the first record).
    const size_t second = 3006 + 8 + 2 + 22;
    packed[second + 2] = '\x7f';
    WriteAll(dir / "damaged.exe", packed);
    EXPECT_EQ(1, Run("list damaged.exe"));
    EXPECT_EQ("a\t22\n", out);
    EXPECT_NE(std::string::npos, err.find("damaged record at offset 3038")) << err;
}

TEST_F(CvpackTest, RepackingOverAnExistingOutputReplacesIt) {
    ASSERT_EQ(0, Run("pack out.exe base.exe a=setup.inf"));
    ASSERT_EQ(0, Run("pack out.exe base.exe b=empty"));
    ASSERT_EQ(0, Run("list out.exe"));
    EXPECT_EQ("b\t0\n", out);
    // Packing onto the base itself works too: it is read before the rename.
    ASSERT_EQ(0, Run("pack base.exe base.exe c=empty"));
    ASSERT_EQ(0, Run("list base.exe"));
    EXPECT_EQ("c\t0\n", out);
}

TEST_F(CvpackTest, EveryPackageEndsOnAMultipleOfEight) {
    // Bases and names of every length modulo 8, so that each padding from
    // 0 to 7 bytes occurs.
    for (int extra = 0; extra < 8; ++extra) {
        WriteAll(dir / "base.exe", std::string(3000 + extra, 'M'));
        ASSERT_EQ(0, Run("pack out.exe base.exe a=setup.inf")) << err;
        const std::string packed = ReadAll(dir / "out.exe");
        EXPECT_EQ(0u, packed.size() % 8) << extra;
        PackageFile package;
        ASSERT_EQ(1, OpenPackageStdio(&package, (dir / "out.exe").c_str(), 0));
        const uint32_t first = FirstRecordOffset(&package);
        EXPECT_GE(first, 3000u + extra);
        EXPECT_LT(first, 3008u + extra);
        const size_t padding = first - 3000 - extra;
        EXPECT_EQ(std::string(padding, '\0'), packed.substr(3000 + extra, padding));
        DetachPackage(&package);
        ASSERT_EQ(0, Run("list out.exe")) << err;
        EXPECT_EQ("a\t22\n", out);
    }
}
