// Whole fetches against layouts made by cvpack split and served by the web
// server: joining, resuming, repairing, and the checks of the part list.
#include <cstdio>
#include <cstring>
#include <regex>

#include "fetch_support.h"
#include "http/codec.h"

namespace {
const int kPart = 64 * 1024;

class Fetch : public FetchFixture {
protected:
    void Publish(const char* name, size_t size, unsigned seed = 1) {
        data = PatternBytes(size, seed);
        ASSERT_TRUE(::Publish(name, data, kPart, &layout));
        Open(NginxSite());
    }
    std::string data;
    Layout layout;
};

// Every "name=-123" sum rewritten as its unsigned 32-bit form.
std::string Unsigned(const std::string& list) {
    std::string out;
    std::regex negative("=-([0-9]+)");
    std::smatch m;
    std::string rest = list;
    while (std::regex_search(rest, m, negative)) {
        unsigned long long v = 4294967296ull - std::stoull(m[1].str());
        out += m.prefix().str() + "=" + std::to_string(v);
        rest = m.suffix().str();
    }
    return out + rest;
}

// Replaces the line of `key` in one section of a part list.
std::string ReplaceLine(const std::string& list, const std::string& section, const std::string& key,
                        const std::string& line) {
    size_t start = list.find("[" + section + "]");
    if (start == std::string::npos) return list;
    size_t end = list.find("\n[", start);
    if (end == std::string::npos) end = list.size();
    std::string body = list.substr(start, end - start);
    std::regex pattern("(^|\n)" + std::regex_replace(key, std::regex("\\."), "\\.") + "=[^\n]*");
    return list.substr(0, start) + std::regex_replace(body, pattern, "$1" + line) + list.substr(end);
}

int SignedSum(const std::string& bytes) {
    IAD_MD5 md5;
    md5.init();
    md5.update(bytes.data(), static_cast<unsigned>(bytes.size()));
    return static_cast<int>(md5.sum32());
}
}  // namespace

TEST_F(Fetch, WholeThenResumedThenRepaired) {
    Publish("whole", 5 * kPart + 1000);
    ASSERT_EQ(0, FetchFixture::Fetch(layout.name));
    // One size, one report per part fetched, one end.
    EXPECT_EQ("dl1 dl2 dl3 dl3 dl3 dl3 dl3 dl3 dl4", recorder.Names());
    EXPECT_EQ(static_cast<LPARAM>(data.size()), recorder.reports[1].lParam);
    EXPECT_EQ(static_cast<LPARAM>(kPart), recorder.reports[2].lParam);
    EXPECT_EQ(static_cast<LPARAM>(5 * kPart), recorder.reports[6].lParam);
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_TRUE(FileExists(local + "\\pkginfo.txt"));

    // Everything present: only the part list travels.
    recorder.reports.clear();
    ASSERT_EQ(0, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl2 dl4", recorder.Names());
    EXPECT_EQ(data, ReadFileBytes(Target()));

    // A part with a wrong sum is fetched again and overwritten.
    std::string damaged = ReadFileBytes(Part(2));
    damaged[100] ^= 0x55;
    WriteFileText(Part(2), damaged);
    recorder.reports.clear();
    ASSERT_EQ(0, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl2 dl3 dl4", recorder.Names());
    EXPECT_EQ(static_cast<LPARAM>(3 * kPart), recorder.reports[1].lParam);
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(data.substr(2 * kPart, kPart), ReadFileBytes(Part(2)));
}

TEST_F(Fetch, SumsWrittenSignedOrUnsignedMatchAlike) {
    // A file whose first part has a sum above 2^31, written negative.
    unsigned seed = 2;
    while (SignedSum(PatternBytes(kPart, seed)) >= 0) ++seed;
    Publish("unsigned", 3 * kPart, seed);
    std::string list = ReadPartList(layout);
    std::string rewritten = Unsigned(list);
    // The layout must hold at least one sum above 2^31 for this to count.
    ASSERT_NE(list, rewritten);
    WritePartList(layout, rewritten);
    ASSERT_EQ(0, FetchFixture::Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // The local check of present parts compares the same way.
    recorder.reports.clear();
    ASSERT_EQ(0, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl2 dl4", recorder.Names());
}

TEST_F(Fetch, TotalSumWrongFailsAndKeepsTheFile) {
    Publish("total", 2 * kPart + 10, 3);
    std::string list = ReadPartList(layout);
    WritePartList(layout, ReplaceLine(list, "sums", "total_sum", "total_sum=" + std::to_string(SignedSum(data) + 1)));
    EXPECT_EQ(4, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl1 dl2 dl3 dl3 dl3 dl4", recorder.Names());
    EXPECT_EQ(data, ReadFileBytes(Target()));
}

// A part list without its total, or with a part that has no sum, is not a
// whole list (a list cut short looks like it): reaching it is a failed try
// of the part list, and no part is fetched by it.
TEST_F(Fetch, PartListMissingASumIsAFailedTry) {
    UseTries(2);
    transport->SetUnattended(true);
    Publish("nosum", 2 * kPart + 10, 3);
    std::string list = ReadPartList(layout);
    for (const char* key : {"total_sum", "file001.bin"}) {
        SCOPED_TRACE(key);
        WritePartList(layout, ReplaceLine(list, "sums", key, ""));
        recorder.reports.clear();
        EXPECT_EQ(4, FetchFixture::Fetch(layout.name));
        EXPECT_EQ("dl4", recorder.Names());
        EXPECT_FALSE(FileExists(Part(0)));
    }
}

TEST_F(Fetch, PartLargerThanTheFirstFailsBeforeItIsFetched) {
    Publish("larger", 3 * kPart, 4);
    std::string list = ReadPartList(layout);
    WritePartList(layout, ReplaceLine(list, "files", "file001.bin", "file001.bin=" + std::to_string(kPart + 1)));
    EXPECT_EQ(4, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl1 dl2 dl3 dl4", recorder.Names());
    EXPECT_TRUE(FileExists(Part(0)));
    EXPECT_FALSE(FileExists(Part(1)));
    EXPECT_EQ(data.substr(0, kPart), ReadFileBytes(Target()));
}

TEST_F(Fetch, PartListWithoutFiles) {
    Publish("nofiles", 0, 6);
    // The empty file gives a part list with no parts and the sum of no data.
    ASSERT_EQ(0, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl1 dl2 dl4", recorder.Names());
    EXPECT_EQ(0, recorder.reports[1].lParam);
    EXPECT_TRUE(FileExists(Target()));
    EXPECT_EQ("", ReadFileBytes(Target()));
    EXPECT_NE(std::string::npos, ReadPartList(layout).find(std::to_string(SignedSum(""))));

    WritePartList(layout, "[files]\n\n[sums]\ntotal_sum=0\n");
    recorder.reports.clear();
    EXPECT_EQ(4, FetchFixture::Fetch(layout.name));
    EXPECT_EQ("dl2 dl4", recorder.Names());
}

TEST_F(Fetch, LocalFileThatCannotBeMadeFailsAtOnce) {
    Publish("nolocal", kPart, 7);
    std::string path = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(path.c_str(), "Z:\\no-such-directory-here\\x\\tmp.tmp"));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ("dl1 dl4", recorder.Names());
    EXPECT_EQ(4u, recorder.Last(msgDl4)->wParam);
}
