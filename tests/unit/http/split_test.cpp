// The pack tool's site layout: parts of the stated size, a part list whose
// sizes, sums and SHA-256 fingerprints match the parts, the sums of the
// whole file, the fingerprint it prints for the setup description, and the
// fingerprints of single files (cvpack pin).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>

#include "download/line_file.h"
#include "http/codec.h"
#include "http/sha256.h"
#include "test_util.h"
#include "../../tier_servers.h"

namespace {

uint32_t Sum(const std::string& data) {
    IAD_MD5 md5;
    md5.init();
    md5.update(data.data(), unsigned(data.size()));
    return md5.sum32();
}

std::string Sha(const std::string& data) {
    unsigned char d[kSha256Size];
    Sha256Of(data.data(), data.size(), d);
    char hex[kSha256HexLength + 1];
    Sha256Hex(d, hex);
    return hex;
}

// section -> key -> value text.
std::map<std::string, std::map<std::string, std::string>> ParseInfo(const std::string& text) {
    std::map<std::string, std::map<std::string, std::string>> out;
    std::string section;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (line.empty()) continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        size_t eq = line.find('=');
        out[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

std::string Tool() { return cvtest::BinDir() + "/cvpack"; }

}  // namespace

TEST(Split, PartsSizesAndSumsMatchTheFile) {
    CV_REQUIRE_TIER(cvtest::FileExists(Tool()), "the native cvpack");
    std::string dir = cvtest::TempDir("split");
    std::mt19937 rng(5);
    const size_t partSize = 1000;
    for (size_t size : {size_t(0), size_t(1), size_t(1000), size_t(2500)}) {
        std::string data(size, '\0');
        for (auto& c : data) c = char(rng());
        std::string src = dir + "/src.bin", site = dir + "/site" + std::to_string(size);
        ASSERT_TRUE(cvtest::WriteFile(src, data));
        const std::string printed = cvtest::RunCapture(Tool() + " split " + src + " " + site + " --part-size 1000");
        std::string infoText;
        ASSERT_TRUE(cvtest::ReadFile(site + "/pkginfo.txt", &infoText));
        // The line to paste into the setup description pins the list as written.
        EXPECT_EQ("sha256=" + Sha(infoText) + "\n", printed);
        // Without an output to print to, the layout is still written.
        ASSERT_EQ(0, std::system((Tool() + " split " + src + " " + site + "-q --part-size 1000 >&-").c_str()));
        std::string quiet;
        ASSERT_TRUE(cvtest::ReadFile(site + "-q/pkginfo.txt", &quiet));
        EXPECT_EQ(infoText, quiet);
        auto info = ParseInfo(infoText);
        size_t parts = (size + partSize - 1) / partSize;
        EXPECT_EQ(parts, info["files"].size()) << infoText;
        EXPECT_EQ(parts + 1, info["sha256"].size()) << infoText;
        LineFile list;
        ASSERT_EQ(0, list.LoadText(infoText.data(), unsigned(infoText.size())));
        PartPlan plan;
        ReadPartPlan(list, &plan);
        EXPECT_EQ(int(parts), plan.count);
        EXPECT_EQ((long long)size, plan.total);
        std::string joined;
        for (size_t n = 0; n < parts; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "file%03zu.bin", n);
            std::string part;
            ASSERT_TRUE(cvtest::ReadFile(site + "/" + name, &part)) << name;
            EXPECT_EQ(data.substr(n * partSize, partSize), part);
            EXPECT_EQ((long long)part.size(), std::stoll(info["files"][name]));
            EXPECT_EQ(int32_t(Sum(part)), std::stoll(info["sums"][name]));
            EXPECT_EQ(Sha(part), info["sha256"][name]);
            unsigned char d[kSha256Size];
            ASSERT_EQ(0, list.GetSha256(name, d));
            joined += part;
        }
        EXPECT_EQ(data, joined);
        ASSERT_TRUE(info["sums"].count("total_sum"));
        EXPECT_EQ(int32_t(Sum(data)), std::stoll(info["sums"]["total_sum"]));
        EXPECT_EQ(Sha(data), info["sha256"][kSha256TotalKey]);
    }
    cvtest::RemoveTree(dir);
}

TEST(Split, PinPrintsTheLinesOfOneOrSeveralFiles) {
    CV_REQUIRE_TIER(cvtest::FileExists(Tool()), "the native cvpack");
    std::string dir = cvtest::TempDir("pin");
    std::string big(3 * 1024 * 1024 + 5, 'x');
    ASSERT_TRUE(cvtest::WriteFile(dir + "/a", "abc"));
    ASSERT_TRUE(cvtest::WriteFile(dir + "/b", big));
    ASSERT_TRUE(cvtest::WriteFile(dir + "/e", ""));
    EXPECT_EQ("sha256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n",
              cvtest::RunCapture(Tool() + " pin " + dir + "/a"));
    EXPECT_EQ("sha256_1=" + Sha(big) + "\nsha256_2=" + Sha("") + "\nsha256_3=" + Sha("abc") + "\n",
              cvtest::RunCapture(Tool() + " pin " + dir + "/b " + dir + "/e " + dir + "/a"));
    EXPECT_NE(0, std::system((Tool() + " pin " + dir + "/a " + dir + "/missing 2>/dev/null").c_str()));
    EXPECT_NE(0, std::system((Tool() + " pin " + dir + " 2>/dev/null").c_str()));
    EXPECT_NE(0, std::system((Tool() + " pin 2>/dev/null").c_str()));
    cvtest::RemoveTree(dir);
}

TEST(Split, BadArgumentsFail) {
    CV_REQUIRE_TIER(cvtest::FileExists(Tool()), "the native cvpack");
    std::string dir = cvtest::TempDir("split");
    EXPECT_NE(0, std::system((Tool() + " split " + dir + "/missing " + dir + "/out 2>/dev/null").c_str()));
    EXPECT_NE(0, std::system((Tool() + " split " + dir + " 2>/dev/null").c_str()));
    cvtest::WriteFile(dir + "/f", "abc");
    EXPECT_NE(0, std::system((Tool() + " split " + dir + "/f " + dir + "/o --part-size 0 2>/dev/null").c_str()));
    EXPECT_NE(0, std::system((Tool() + " scramble 2>/dev/null").c_str()));
    cvtest::RemoveTree(dir);
}
