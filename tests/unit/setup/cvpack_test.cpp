// cvpack as a publisher runs it: pack and list, read back with the
// program's own package reader; check on good and faulty setup
// descriptions, offline and against the tier's web and FTP servers.
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
#include "../../tier_servers.h"

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

// ---- check --------------------------------------------------------------------

namespace {

// A setup description with a pinned local file, a registry step, an "http"
// component with a scrambled password and a mirror, and string variables.
std::string GoodSetup(const std::string& readmePin, const std::string& scrambled) {
    return "[defs]\r\n"
           "allowintervention=TRUE\r\n"
           "SaveProxySettings=FALSE\r\n"
           "; a comment\r\n"
           "strings=texts\r\n"
           "components=core,data\r\n"
           "\r\n"
           "[texts]\r\n"
           "Product=Quorrin client\r\n"
           "\r\n"
           "[core]\r\n"
           "name=%Product% setup\r\n"
           "size=262\r\n"
           "Protocol=selfext\r\n"
           "files=readme.txt\r\n"
           "sha256=" + readmePin + "\r\n"
           "count=2\r\n"
           "install1=copy,readme.txt,4\r\n"
           "registry1=regs\r\n"
           "install2=run,cvclientsetup.exe,-success\r\n"
           "\r\n"
           "[regs]\r\n"
           "HKLM,Software\\Vendor,Count=n,42\r\n"
           "\r\n"
           "[data]\r\n"
           "name=%Product% data (100%%)\r\n"
           "size=384\r\n"
           "Protocol=http\r\n"
           "site=downloads.example.com\r\n"
           "user=u\r\n"
           "password=" + scrambled + "\r\n"
           "site2=mirror.example.com\r\n"
           "user2=v\r\n"
           "password2=" + scrambled + "\r\n"
           "sourceDir=quorrin/data\r\n"
           "files=quorrin-data.bin\r\n"
           "sha256=E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855\r\n"
           "install1=copy,quorrin-data.bin\r\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Lines of `out` that report problems (notes and the summary left out).
std::vector<std::string> Problems(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find(": note: ") == std::string::npos && line.find(".inf: ") != 0 &&
            line.find("problem") == std::string::npos)
            lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(CvpackTest, CheckFindsNothingWrongInAGoodSetup) {
    WriteAll(dir / "readme.txt", "read me\n");
    ASSERT_EQ(0, Run("pin readme.txt"));
    const std::string pin = out.substr(7, 64);
    ASSERT_EQ(0, Run("scramble secret --seed 3"));
    const std::string scrambled = out.substr(0, out.size() - 1);
    WriteAll(dir / "s.inf", GoodSetup(pin, scrambled));
    EXPECT_EQ(0, Run("check s.inf")) << out << err;
    EXPECT_EQ("s.inf:16: [core] sha256: note: readme.txt beside the setup description matches\n"
              "s.inf: no problems\n",
              out);
    EXPECT_EQ(2, Run("check missing.inf"));
    EXPECT_NE(std::string::npos, err.find("cannot read")) << err;
    EXPECT_EQ(2, Run("check"));
}

TEST_F(CvpackTest, CheckReportsEachFaultOnceWithItsSectionAndKey) {
    WriteAll(dir / "readme.txt", "read me\n");
    ASSERT_EQ(0, Run("pin readme.txt"));
    const std::string pin = out.substr(7, 64);
    ASSERT_EQ(0, Run("scramble secret --seed 3"));
    const std::string good = GoodSetup(pin, out.substr(0, out.size() - 1));
    const std::string otherPin(64, '7');
    const struct {
        std::string from, to, expected;
    } faults[] = {
        {"size=384", "DisplayOrdr=2", "[data] DisplayOrdr: unknown key: the program never reads it (nearest known "
                                      "key: DisplayOrder)"},
        {"components=core,data", "components=core,data,extra", "[defs] components: component [extra] has no section"},
        {"components=core,data", "components=core,data,Core", "[defs] components: [Core] is named twice"},
        {"Protocol=selfext", "Protocol=selfextract", "[core] Protocol: unknown protocol \"selfextract\""},
        {"Protocol=http", "Protocol=HTTP", "[data] Protocol: \"HTTP\": only http in lower case selects HTTP"},
        {"install1=copy,quorrin", "install1=,quorrin", "[data] install1: \",quorrin-data.bin\" does not parse"},
        {"files=readme.txt", "files=readme.txt,..\\..\\evil.dll", "[core] files: \"..\\..\\evil.dll\" is not a safe file name"},
        {"files=readme.txt", "files=readme.txt C:evil.dll", "[core] files: \"C:evil.dll\" is not a safe file name"},
        {"sha256=E3B0", "sha256=E3B", "[data] sha256: \"E3B" },
        {"sha256=E3B0", "sha256= 0xE3B0", "is not a fingerprint: 64 hexadecimal digits"},
        {"sha256=" + pin, "sha256=" + otherPin, "[core] sha256: readme.txt beside the setup description does not match"},
        {"count=2", "count=2\r\nsha256_2=" + otherPin, "[core] sha256_2: pins file 2, but \"files\" lists 1"},
        {"install1=copy,quorrin", "sha256_1=" + otherPin + "\r\ninstall1=copy,quorrin",
         "[data] sha256_1: differs from sha256 (line 37), which pins the same file"},
        {"name=%Product% data", "name=%Product% data %Edition%", "[data] name: %Edition% is defined in no string section"},
        {"sourceDir=quorrin/data", "sourceDir=quorrin/data%", "[data] sourceDir: \"%\" has no closing %"},
        {"strings=texts", "strings=texts,more", "[defs] strings: string section [more] does not exist"},
        {"install2=run", "install3=run", "[core] install3: never runs: \"count\" is 2"},
        {"count=2", "count=1", "[core] install2: never runs: \"count\" is 1, so the install rounds are 1 to 1"},
        {"site2=", "site4=m4.example.com\r\nsite2=", "[data] site4: site3 is missing"},
        {"user2=v", "user2=v\r\nuser3=w", "[data] user3: there is no site3"},
        {"password2=", "password2=plain\r\n;", "[data] password2: not in the scrambled form"},
        {"registry1=regs", "registry1=regz", "[core] registry1: registry section [regz] does not exist"},
        {"registry1=regs", "registry1=@", "[core] registry1: \"@\" names no section"},
        {"registry1=regs", "registry1=regs@..\\other.inf", "[core] registry1: \"regs@..\\other.inf\" names no section, or a file outside"},
        {"install2=run,cvclientsetup.exe", "install2=run,C:\\cvclientsetup.exe", "[core] install2: \"run,C:\\cvclientsetup.exe,-success\" does not parse"},
        {"Count=n,42", "Count=n,4x", "[regs]: \"4x\" is no DWORD number"},
        {"HKLM,Software", "HKXX,Software", "[regs]: the root is none of HKCR, HKCU, HKLM, HKU"},
        {"HKLM,Software\\Vendor,Count=n,42", "HKLM,Software=n,42", "[regs]: not ROOT,KEY,NAME=TYPE,DATA"},
        {"size=384", "size=%Size%", "[data] size: \"%Size%\" is not a whole number: the program reads 0"},
        {"size=384", "size=12kb", "[data] size: \"12kb\" is not a whole number: the program reads 12"},
        {"install1=copy,quorrin", "size=1\r\ninstall1=copy,quorrin", "[data] size: given again (first at line 27)"},
        {"SaveProxySettings=FALSE", "SaveProxySettings=true", "[defs] SaveProxySettings: \"true\" is neither TRUE nor FALSE"},
        {"allowintervention=TRUE", "allowintervention=False", "only FALSE, in capitals, turns intervention off"},
        {"name=%Product% setup", "name=", "[core] name: no name: the program leaves the component out"},
        {"[regs]", "[Data]\r\nname=x\r\n[regs]", "s.inf:27: [data]: the section is given again (first at line 22)"},
        {"[texts]", "[defs]\r\n[texts]", "[defs]: the section is given again"},
        {"size=262", "size 262", "[core] size 262: no \"=\": the program reads nothing from this line"},
        {"count=2", "count=2\r\nresultFrom=exitcodes",
         "[core] resultFrom: \"exitcodes\" is neither statefile nor exitcode"},
    };
    for (const auto& fault : faults) {
        WriteAll(dir / "s.inf", Replaced(good, fault.from, fault.to));
        EXPECT_EQ(1, Run("check s.inf")) << fault.to << "\n" << out;
        const std::vector<std::string> problems = Problems(out);
        ASSERT_EQ(1u, problems.size()) << fault.to << "\n" << out;
        EXPECT_NE(std::string::npos, problems[0].find(fault.expected)) << fault.to << "\n" << out;
        EXPECT_EQ(0u, problems[0].find("s.inf:")) << out;
        EXPECT_NE(std::string::npos, out.find("s.inf: 1 problem\n")) << out;
    }
}

TEST_F(CvpackTest, CheckOnlineComparesEverySiteWithThePinnedFingerprints) {
    const char* www = std::getenv("CV_WWW_DIR");
    const char* port = std::getenv("CV_HTTP_PORT");
    const char* httpsPort = std::getenv("CV_HTTPS_PORT");
    const char* ftpDir = std::getenv("CV_FTP_DIR");
    const char* ftpAddress = std::getenv("CV_FTP_ADDR");
    CV_REQUIRE_TIER(www && port && httpsPort && ftpDir && ftpAddress &&
                        fs::is_directory(www) && fs::is_directory(ftpDir),
                    "nginx and vsftpd of the test tier");
    const std::string token = "cvcheck-" + std::to_string(getpid());
    const fs::path web = fs::path(www) / token, ftp = fs::path(ftpDir) / token;
    fs::create_directories(web);
    fs::create_directories(ftp);
    fs::permissions(ftp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    // Two sites with the same part list, one with another, one whose list
    // lacks the strong sums.
    ASSERT_EQ(0, Run("split big.bin " + (web / "a/q/data").string() + " --part-size 30000")) << err;
    const std::string pin = out.substr(7, 64);
    ASSERT_EQ(0, Run("split big.bin " + (web / "c/q/data").string() + " --part-size 30000")) << err;
    ASSERT_EQ(0, Run("split big.bin " + (web / "b/q/data").string() + " --part-size 20000")) << err;
    ASSERT_EQ(0, Run("split big.bin " + (web / "d/q/data").string() + " --part-size 30000")) << err;
    std::string list = ReadAll(web / "d/q/data/pkginfo.txt");
    list.erase(list.find("\n[sha256]"));
    WriteAll(web / "d/q/data/pkginfo.txt", list);
    ASSERT_EQ(0, Run("pin " + (web / "d/q/data/pkginfo.txt").string()));
    const std::string oldPin = out.substr(7, 64);
    fs::copy_file(dir / "setup.inf", ftp / "f1.bin");
    fs::copy_file(dir / "big.bin", ftp / "f2.bin");
    for (const char* name : {"f1.bin", "f2.bin"})
        fs::permissions(ftp / name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
                                        fs::perms::group_read);
    ASSERT_EQ(0, Run("pin big.bin"));
    const std::string ftpPin = out.substr(7, 64);

    const std::string site = std::string("127.0.0.1:") + port + "/" + token;
    const std::string setup = "[defs]\ncomponents=web,ftp\n"
                              "[web]\nname=web\nProtocol=http\nfiles=d.bin\nsourceDir=q/data\n"
                              "site=http://" + site + "/a\nsite2=" + site + "/c\nsha256=" + pin + "\n"
                              "[ftp]\nname=ftp\nProtocol=ftp\nsite=" + std::string(ftpAddress) + "\n"
                              "sourceDir=" + token + "\nfiles=f1.bin,f2.bin\nsha256_2=" + ftpPin + "\n";
    WriteAll(dir / "s.inf", setup);
    EXPECT_EQ(0, Run("check s.inf --online")) << out;
    EXPECT_NE(std::string::npos, out.find("[web] site: note: " + site + "/a/q/data/pkginfo.txt reached: ")) << out;
    EXPECT_NE(std::string::npos, out.find("[web] site2: note: " + site + "/c/q/data/pkginfo.txt reached: ")) << out;
    EXPECT_NE(std::string::npos, out.find("sha256=" + pin + ", as pinned")) << out;
    EXPECT_NE(std::string::npos, out.find("/f1.bin reached: 22 bytes (not pinned")) << out;
    EXPECT_NE(std::string::npos, out.find("/f2.bin reached: 70000 bytes, matches the fingerprint")) << out;
    EXPECT_NE(std::string::npos, out.find("s.inf: no problems\n")) << out;

    // A mirror with another list, one that is down, an https mirror (no TLS
    // in this build), a missing file, a pinned file that differs, an
    // unpinned component whose mirror differs, and a pinned list without
    // strong sums.
    const std::string faulty =
        Replaced(Replaced(setup, "sha256=" + pin, "sha256=" + pin + "\nsite3=" + site + "/b\nsite4=127.0.0.1:1\n"
                                                  "site5=https://127.0.0.1:" + httpsPort),
                 "files=f1.bin,f2.bin", "files=f1.bin,f2.bin,f3.bin\nsha256_1=" + pin) +
        "[web2]\nname=web2\nProtocol=http\nfiles=x\nsourceDir=q/data\nsite=" + site + "/a\nsite2=" + site + "/b\n"
        "[web3]\nname=web3\nProtocol=http\nfiles=x\nsourceDir=q/data\nsite=" + site + "/d\nsha256=" + oldPin + "\n";
    WriteAll(dir / "s.inf", Replaced(faulty, "components=web,ftp", "components=web,ftp,web2,web3"));
    EXPECT_EQ(1, Run("check s.inf --online")) << out;
    const std::vector<std::string> problems = Problems(out);
    const char* expected[] = {
        "[web] site3: " ,  "/b/q/data/pkginfo.txt does not match the fingerprint in the setup",
        "[web] site4: ", "127.0.0.1:1/q/data/pkginfo.txt cannot be fetched: ",
        "[ftp] site: ", "/f1.bin does not match the fingerprint in the setup",
        "[ftp] site: ", "/f3.bin cannot be fetched: the server refused the file",
        "[web2] site2: ", "/b/q/data/pkginfo.txt differs from " ,
        "[web3] site: ", "/d/q/data/pkginfo.txt has no [sha256] section",
    };
    ASSERT_EQ(6u, problems.size()) << out;
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_NE(std::string::npos, problems[i].find(expected[2 * i])) << problems[i];
        EXPECT_NE(std::string::npos, problems[i].find(expected[2 * i + 1])) << problems[i];
    }
    EXPECT_NE(std::string::npos, out.find("[web] site5: note: https://127.0.0.1:" + std::string(httpsPort) +
                                          "/q/data/pkginfo.txt not checked: this build of cvpack has no TLS"))
        << out;
    EXPECT_NE(std::string::npos, out.find("s.inf: 6 problems; 1 not checked\n")) << out;
    fs::remove_all(web);
    fs::remove_all(ftp);
}
