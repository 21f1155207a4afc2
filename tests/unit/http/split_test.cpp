// The pack tool's site layout: parts of the stated size, a part list whose
// sizes and sums match the parts, and a total sum of the whole file.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>

#include "http/codec.h"
#include "test_util.h"
#include "../../tier_servers.h"

namespace {

uint32_t Sum(const std::string& data) {
    IAD_MD5 md5;
    md5.init();
    md5.update(data.data(), unsigned(data.size()));
    return md5.sum32();
}

// section -> key -> value, as the part list reader would see it.
std::map<std::string, std::map<std::string, long long>> ParseInfo(const std::string& text) {
    std::map<std::string, std::map<std::string, long long>> out;
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
        out[section][line.substr(0, eq)] = std::stoll(line.substr(eq + 1));
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
        ASSERT_EQ(0, std::system((Tool() + " split " + src + " " + site + " --part-size 1000").c_str()));
        std::string infoText;
        ASSERT_TRUE(cvtest::ReadFile(site + "/pkginfo.txt", &infoText));
        auto info = ParseInfo(infoText);
        size_t parts = (size + partSize - 1) / partSize;
        EXPECT_EQ(parts, info["files"].size()) << infoText;
        std::string joined;
        for (size_t n = 0; n < parts; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "file%03zu.bin", n);
            std::string part;
            ASSERT_TRUE(cvtest::ReadFile(site + "/" + name, &part)) << name;
            EXPECT_EQ(data.substr(n * partSize, partSize), part);
            EXPECT_EQ((long long)part.size(), info["files"][name]);
            EXPECT_EQ(int32_t(Sum(part)), info["sums"][name]);
            joined += part;
        }
        EXPECT_EQ(data, joined);
        ASSERT_TRUE(info["sums"].count("total_sum"));
        EXPECT_EQ(int32_t(Sum(data)), info["sums"]["total_sum"]);
    }
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
