// The list of kept files that a run handing its install over leaves its
// elevated copy: its lines, its reading, the names it is made of.
#include "install/kept_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

KeptFile File(const char* name, unsigned long long size, unsigned char fill) {
    KeptFile f;
    std::snprintf(f.name, sizeof f.name, "%s", name);
    f.size = size;
    std::memset(f.digest, fill, sizeof f.digest);
    return f;
}

std::string Line(const KeptFile& f) {
    char out[400];
    return FormatKeptLine(f, out, sizeof out) ? out : "<refused>";
}

int Collect(const KeptFile& f, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(std::string(f.name) + "|" +
                                                                std::to_string(f.size) + "|" +
                                                                std::to_string(f.digest[0]));
    return 1;
}

// The names read, or {"<refused>"}.
std::vector<std::string> Parse(const std::string& text) {
    std::vector<std::string> got;
    if (!ParseKeptList(text.data(), text.size(), Collect, &got)) return {"<refused>"};
    return got;
}

TEST(KeptList, LinesAreReadBackAsWritten) {
    const std::string a = Line(File("client.inf", 120, 0xab));
    EXPECT_EQ(std::string(64, 'x').size() + std::strlen(" 120 client.inf\n"), a.size());
    EXPECT_EQ(std::string(64, 'a').replace(0, 64, "abababababababababababababababababababababababababababababababab") +
                  " 120 client.inf\n",
              a);
    const std::string b = Line(File("sub\\data file.bin", 18446744073709551615ULL, 1));
    EXPECT_EQ((std::vector<std::string>{"client.inf|120|171", "sub\\data file.bin|18446744073709551615|1"}),
              Parse(a + b));
    EXPECT_TRUE(Parse("").empty());
    // A name that leads out of the folder, or that would break the line, is
    // never written.
    for (const char* name : {"..\\x", "C:\\x", "\\x", "a\nb", "", "x:y"})
        EXPECT_EQ("<refused>", Line(File(name, 1, 1))) << name;
    char small[70];
    EXPECT_EQ(0, FormatKeptLine(File("client.inf", 120, 1), small, sizeof small));
    EXPECT_STREQ("", small);
}

TEST(KeptList, AnythingButAWholeListIsRefused) {
    const std::string hex(64, '0');
    const std::string good = hex + " 1 a.bin\n";
    ASSERT_EQ(1u, Parse(good).size());
    const std::string refused[] = {
        hex + " 1 a.bin",                      // no line end
        hex + " 1 a.bin\r\n",                  // a carriage return is no name
        hex.substr(1) + " 1 a.bin\n",          // short digest
        hex + "0 1 a.bin\n",                   // long digest
        std::string(63, '0') + "g 1 a.bin\n",  // not hexadecimal
        hex + "  1 a.bin\n",                   // an empty size
        hex + " -1 a.bin\n",
        hex + " 1x a.bin\n",
        hex + " 18446744073709551616 a.bin\n",  // more than 64 bits
        hex + " 012345678901234567890 a.bin\n",
        hex + " 1 \n",                           // no name
        hex + " 1\n",
        hex + " 1 ..\\a.bin\n",                 // leads out
        hex + " 1 C:\\a.bin\n",
        good + hex + " 2 A.BIN\n",               // twice, in another case
        std::string("\n"),
        good + std::string("x", 1),
        hex + " 1 a" + std::string(1, '\0') + "b\n",
    };
    for (const std::string& text : refused) EXPECT_EQ(std::vector<std::string>{"<refused>"}, Parse(text)) << text;
    // A reader that stops refuses the list.
    EXPECT_EQ(0, ParseKeptList(good.data(), good.size(), [](const KeptFile&, void*) { return 0; }, nullptr));
}

TEST(KeptList, NoMoreFilesThanTheLimit) {
    std::string text;
    for (int i = 0; i < kMaxKeptFiles; ++i) text += std::string(64, '0') + " 1 f" + std::to_string(i) + "\n";
    EXPECT_EQ(static_cast<size_t>(kMaxKeptFiles), Parse(text).size());
    text += std::string(64, '0') + " 1 one-more\n";
    EXPECT_EQ(std::vector<std::string>{"<refused>"}, Parse(text));
}

TEST(KeptNames, EachSafeNameOnce) {
    KeptNames set = {static_cast<char(*)[260]>(std::malloc(sizeof(char[260]) * kMaxKeptFiles)), 0};
    ASSERT_NE(nullptr, set.names);
    EXPECT_EQ(1, AddKeptName(&set, "client.inf"));
    EXPECT_EQ(1, AddKeptName(&set, "CLIENT.INF"));
    EXPECT_EQ(1, AddKeptName(&set, "sub\\x.bin"));
    EXPECT_EQ(2, set.count);
    for (const char* name : {"", "..\\x", "C:\\x", "a\rb"}) EXPECT_EQ(0, AddKeptName(&set, name)) << name;
    EXPECT_EQ(0, AddKeptName(&set, std::string(300, 'n').c_str()));
    EXPECT_EQ(0, AddKeptName(&set, nullptr));
    while (set.count < kMaxKeptFiles) ASSERT_EQ(1, AddKeptName(&set, ("f" + std::to_string(set.count)).c_str()));
    EXPECT_EQ(0, AddKeptName(&set, "one-more"));
    EXPECT_EQ(1, AddKeptName(&set, "client.inf"));  // there already
    std::free(set.names);
}

TEST(KeptNames, ANameInsideTheFolderOnly) {
    char out[260];
    ASSERT_EQ(1, NameInFolder("C:\\T\\inst1.tmp\\sub\\x.bin", "c:\\t\\INST1.TMP\\", out, sizeof out));
    EXPECT_STREQ("sub\\x.bin", out);
    ASSERT_EQ(1, NameInFolder("C:\\T\\inst1.tmp/x.bin", "C:\\T\\inst1.tmp", out, sizeof out));
    EXPECT_STREQ("x.bin", out);
    for (const char* path : {"C:\\T\\inst1.tmp", "C:\\T\\inst1.tmp\\", "C:\\T\\inst1.tmpx\\a", "C:\\T\\a",
                             "C:\\T\\inst1.tmp\\\\a", "D:\\T\\inst1.tmp\\a"}) {
        EXPECT_EQ(0, NameInFolder(path, "C:\\T\\inst1.tmp", out, sizeof out)) << path;
        EXPECT_STREQ("", out) << path;
    }
    EXPECT_EQ(0, NameInFolder("C:\\a", "", out, sizeof out));
    EXPECT_EQ(0, NameInFolder("C:\\T\\inst1.tmp\\long-name", "C:\\T\\inst1.tmp", out, 5));
    EXPECT_STREQ("", out);
}

}  // namespace
