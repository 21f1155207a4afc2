// The package reader over packages built byte by byte, including damaged
// and hostile ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "setup/defs_peek.h"
#include "setup/package.h"

namespace {

// A package held in memory; `shortReadsFrom` makes reads that reach that
// offset come back one byte short, as a failing disk would (the trailer
// still reads whole).
class MemoryStream final : public PackageStream {
public:
    explicit MemoryStream(std::string* bytes) : bytes(bytes) {}
    int Seek(uint32_t offset) override {
        if (offset > bytes->size()) return 0;
        position = offset;
        return 1;
    }
    int Read(void* buffer, uint32_t size, uint32_t* done) override {
        size_t n = std::min<size_t>(size, bytes->size() - position);
        if (position + n > shortReadsFrom && position + 16 < bytes->size() && n > 0) --n;
        std::memcpy(buffer, bytes->data() + position, n);
        position += n;
        *done = static_cast<uint32_t>(n);
        return 1;
    }
    int Append(const void* data, uint32_t size) override {
        bytes->append(static_cast<const char*>(data), size);
        return 1;
    }
    void Release() override { released = true; }

    std::string* bytes;
    size_t position = 0;
    size_t shortReadsFrom = SIZE_MAX;
    bool released = false;
};

std::string Record(const std::string& name, const std::string& data) {
    unsigned char header[8];
    MakeRecordHeader(header, static_cast<uint32_t>(data.size()),
                     static_cast<uint16_t>(name.size() + 1));
    return std::string(reinterpret_cast<char*>(header), 8) + name + std::string(1, '\0') + data;
}

// A header with any lengths, followed by `rest`.
std::string RawRecord(uint32_t dataLength, uint16_t nameLength, const std::string& rest) {
    unsigned char header[8];
    MakeRecordHeader(header, dataLength, nameLength);
    return std::string(reinterpret_cast<char*>(header), 8) + rest;
}

std::string Trailer(uint32_t first) {
    unsigned char t[16];
    MakeTrailer(t, first);
    return std::string(reinterpret_cast<char*>(t), 16);
}

const std::string kImage = "MZ-program-image-bytes";

std::string Package(const std::string& records) {
    return kImage + records + Trailer(static_cast<uint32_t>(kImage.size()));
}

struct Walk {
    std::vector<std::string> names;
    std::vector<std::string> data;
    int last = RecordEnd;
};

Walk WalkPackage(std::string bytes, size_t shortReadsFrom = SIZE_MAX) {
    MemoryStream stream(&bytes);
    stream.shortReadsFrom = shortReadsFrom;
    PackageFile package;
    EXPECT_EQ(1, AttachPackage(&package, &stream, bytes.size(), 0));
    Walk walk;
    uint32_t offset = FirstRecordOffset(&package);
    for (;;) {
        char name[kPackageNameMax];
        uint32_t length = 0;
        walk.last = ReadRecord(&package, &offset, name, sizeof name, &length);
        if (walk.last != RecordRead) break;
        std::string data(length, '\0');
        if (!ReadRecordData(&package, &data[0], length)) {
            walk.last = RecordDamaged;
            break;
        }
        walk.names.push_back(name);
        walk.data.push_back(data);
    }
    DetachPackage(&package);
    EXPECT_TRUE(stream.released);
    return walk;
}

}  // namespace

TEST(PackageReaderTest, WalksRecordsInOrderUpToTheTrailer) {
    const Walk walk = WalkPackage(Package(Record("setup.inf", "[defs]") +
                                          Record("sub\\dir\\a.bin", std::string(5000, 'a')) +
                                          Record("empty", "") + Record("last.inf", "end")));
    EXPECT_EQ(RecordEnd, walk.last);
    ASSERT_EQ(4u, walk.names.size());
    EXPECT_EQ("setup.inf", walk.names[0]);
    EXPECT_EQ("[defs]", walk.data[0]);
    EXPECT_EQ("sub\\dir\\a.bin", walk.names[1]);
    EXPECT_EQ(std::string(5000, 'a'), walk.data[1]);
    EXPECT_EQ("", walk.data[2]);
    EXPECT_EQ("end", walk.data[3]);  // ends exactly at the trailer
}

TEST(PackageReaderTest, FilesWithoutTrailerHaveNoRecords) {
    for (const std::string& bytes :
         {std::string(), std::string("short"), kImage + Record("a", "b"),
          Package(Record("a", "b")).substr(0, kImage.size() + 12)}) {
        std::string copy = bytes;
        MemoryStream stream(&copy);
        PackageFile package;
        AttachPackage(&package, &stream, copy.size(), 0);
        EXPECT_EQ(1, package.trailerMissing);
        EXPECT_EQ(copy.size(), package.recordsEnd);
        EXPECT_EQ(copy.size(), FirstRecordOffset(&package));
        EXPECT_TRUE(WalkPackage(bytes).names.empty());
        DetachPackage(&package);
    }
}

TEST(PackageReaderTest, WritableWithoutTrailerGetsOneOnClose) {
    std::string bytes = kImage;
    MemoryStream stream(&bytes);
    PackageFile package;
    AttachPackage(&package, &stream, bytes.size(), 1);
    DetachPackage(&package);
    EXPECT_EQ(kImage + Trailer(static_cast<uint32_t>(kImage.size())), bytes);
    // With a trailer, or opened read-only, nothing is appended.
    std::string packed = Package(Record("a", "b"));
    const std::string before = packed;
    MemoryStream second(&packed);
    AttachPackage(&package, &second, packed.size(), 1);
    DetachPackage(&package);
    EXPECT_EQ(before, packed);
}

TEST(PackageReaderTest, TruncatedHeaderEndsTheWalkKeepingEarlierRecords) {
    const Walk walk = WalkPackage(Package(Record("a", "1") + std::string(7, '\x01')));
    EXPECT_EQ(RecordEnd, walk.last);
    EXPECT_EQ(std::vector<std::string>{"a"}, walk.names);
    // A first-record offset beyond the records' end: nothing to walk.
    EXPECT_TRUE(WalkPackage(kImage + Record("a", "1") + Trailer(0x7FFFFFF0)).names.empty());
}

TEST(PackageReaderTest, LengthsThatDoNotFitAreDamage) {
    const std::string good = Record("a", "1");
    const struct {
        const char* what;
        std::string record;
    } cases[] = {
        {"data past trailer", RawRecord(2, 2, std::string("b\0", 2) + "1")},
        {"huge data length", RawRecord(0xFFFFFFFF, 2, std::string("b\0", 2) + "1")},
        {"name past trailer", RawRecord(0, 200, "bb")},
        {"name length 0", RawRecord(0, 0, "x")},
        {"name length 261", RawRecord(0, 261, std::string(260, 'n') + std::string(1, '\0'))},
        {"name without NUL", RawRecord(1, 2, "bc1")},
        {"name with early NUL", RawRecord(1, 3, std::string("b\0c", 3) + "1")},
    };
    for (const auto& c : cases) {
        const Walk walk = WalkPackage(Package(good + c.record));
        EXPECT_EQ(RecordDamaged, walk.last) << c.what;
        EXPECT_EQ(std::vector<std::string>{"a"}, walk.names) << c.what;
    }
    // The longest name that fits: 259 characters and the NUL.
    const std::string longest(259, 'n');
    const Walk walk = WalkPackage(Package(Record(longest, "x")));
    EXPECT_EQ(RecordEnd, walk.last);
    EXPECT_EQ(std::vector<std::string>{longest}, walk.names);
}

TEST(PackageReaderTest, NamesLeavingTheFolderAreDamage) {
    for (const char* name : {"\\abs.inf", "/abs.inf", "C:\\x.inf", "C:x.inf", "a:stream",
                             "..\\up.inf", "../up.inf", "a\\..\\..\\up", "a\\..", "..",
                             "a\\...\\b", "a\\. .\\b", "a/.. /b"}) {
        const Walk walk = WalkPackage(Package(Record(name, "x")));
        EXPECT_EQ(RecordDamaged, walk.last) << name;
        EXPECT_TRUE(walk.names.empty()) << name;
        EXPECT_EQ(0, IsSafeRecordName(name)) << name;
    }
    for (const char* name : {"a", "a.inf", "sub\\dir\\f", ".\\a", "a..b", ".hidden", "a\\.b\\c"})
        EXPECT_EQ(1, IsSafeRecordName(name)) << name;
    EXPECT_EQ(0, IsSafeRecordName(""));
}

TEST(PackageReaderTest, ShortReadsAreDamage) {
    const std::string bytes = Package(Record("a", "1") + Record("big", std::string(3000, 'z')));
    const size_t secondRecord = kImage.size() + Record("a", "1").size();
    // Inside the second header, inside its name, inside its data.
    for (size_t at : {secondRecord + 4, secondRecord + 9, secondRecord + 2000}) {
        const Walk walk = WalkPackage(bytes, at);
        EXPECT_EQ(RecordDamaged, walk.last) << at;
        EXPECT_EQ(std::vector<std::string>{"a"}, walk.names) << at;
    }
}

namespace {

// The headers of a PE image as far as the reader looks: the MZ header
// pointing at "PE\0\0", the file header with the optional header's size,
// and the optional header up to its data directories (16 of them unless
// `directories` says otherwise), the security directory (index 4) set to
// `table` and `tableSize`. Padded to `imageSize` bytes.
std::string PeImage(bool wide, uint32_t table, uint32_t tableSize, uint32_t directories = 16,
                    size_t imageSize = 512) {
    std::string image(imageSize, '\0');
    unsigned char* at = reinterpret_cast<unsigned char*>(&image[0]);
    at[0] = 'M';
    at[1] = 'Z';
    const uint32_t pe = 0x80;
    StoreU32(at + 0x3C, pe);
    std::memcpy(at + pe, "PE\0\0", 4);
    const uint32_t countAt = wide ? 108 : 92;
    StoreU16(at + pe + 4 + 16, static_cast<uint16_t>(countAt + 4 + 16 * 8));
    unsigned char* optional = at + pe + 24;
    StoreU16(optional, wide ? 0x20B : 0x10B);
    StoreU32(optional + countAt, directories);
    StoreU32(optional + countAt + 4 + 4 * 8, table);
    StoreU32(optional + countAt + 4 + 4 * 8 + 4, tableSize);
    return image;
}

// A signed program: image, package, then the certificate table a signing
// tool appends, which the security directory names.
std::string SignedPackage(bool wide, const std::string& records, size_t tableSize = 24) {
    const std::string base = PeImage(wide, 0, 0);
    const uint32_t table = static_cast<uint32_t>(base.size() + records.size() + kTrailerSize);
    return PeImage(wide, table, static_cast<uint32_t>(tableSize)) + records +
           Trailer(static_cast<uint32_t>(base.size())) + std::string(tableSize, '\x30');
}

uint32_t EndOf(std::string bytes) {
    MemoryStream stream(&bytes);
    return PackageEnd(&stream, static_cast<uint32_t>(bytes.size()));
}

}  // namespace

TEST(PackageReaderTest, SignedProgramsKeepTheirPackageBeforeTheCertificateTable) {
    const std::string records = Record("setup.inf", "[defs]") + Record("b", "data");
    for (bool wide : {false, true}) {
        const std::string signedFile = SignedPackage(wide, records);
        EXPECT_EQ(signedFile.size() - 24, EndOf(signedFile)) << wide;
        const Walk walk = WalkPackage(signedFile);
        EXPECT_EQ(RecordEnd, walk.last) << wide;
        EXPECT_EQ((std::vector<std::string>{"setup.inf", "b"}), walk.names) << wide;
        EXPECT_EQ("data", walk.data[1]) << wide;
    }
    // The same image unsigned still has its package at the end of the file.
    const std::string plain = PeImage(false, 0, 0) + records + Trailer(512);
    EXPECT_EQ(plain.size(), EndOf(plain));
    EXPECT_EQ(2u, WalkPackage(plain).names.size());
}

TEST(PackageReaderTest, SecurityDirectoriesThatDoNotFitTheFileAreIgnored) {
    const std::string records = Record("a", "1");
    const std::string good = SignedPackage(false, records);
    const uint32_t size = static_cast<uint32_t>(good.size());
    const uint32_t table = size - 24;
    const std::string rest = good.substr(512);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"table ends before the file", PeImage(false, table, 23) + rest},
        {"table runs past the file", PeImage(false, table, 25) + rest},
        {"table starts past the file", PeImage(false, size + 8, 0xFFFFFFFF - size - 7) + rest},
        {"size wraps around", PeImage(false, table, 0xFFFFFFFF) + rest},
        {"empty table at the end", PeImage(false, size, 0) + rest},
        {"table inside the headers", PeImage(false, 0x100, size - 0x100) + rest},
        {"no security directory", PeImage(false, table, 24, 4) + rest},
        {"not a PE image", "ZM" + (PeImage(false, table, 24) + rest).substr(2)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(size, c.bytes.size()) << c.what;
        EXPECT_EQ(size, EndOf(c.bytes)) << c.what;
        // The trailer is then looked for at the end, among the table's bytes.
        EXPECT_TRUE(WalkPackage(c.bytes).names.empty()) << c.what;
    }
    // Headers that point outside the file, or a file cut inside them.
    std::string far = PeImage(false, table, 24) + rest;
    StoreU32(reinterpret_cast<unsigned char*>(&far[0x3C]), 0xFFFFFFF0);
    EXPECT_EQ(size, EndOf(far));
    for (size_t cut : {size_t(2), size_t(0x40), size_t(0x90), size_t(0x100)})
        EXPECT_EQ(cut, EndOf(good.substr(0, cut))) << cut;
}

// Start-up reads allowintervention out of the package before anything is
// written: only a "FALSE" in a [defs] section of an ".inf" counts, as the
// download dialog reads it later.
TEST(DefsPeekTest, ValuesAreReadAsTheProfileFunctionsReadThem) {
    const std::string text =
        "\xEF\xBB\xBF; comment\r\n[other]\r\nallowintervention=FALSE\r\n"
        "[ DEFS ]\r\n  AllowIntervention =  \"FALSE\"  \r\nallowintervention=TRUE\r\n[defs]\nx=1\n";
    char value[32];
    ASSERT_EQ(1, IniTextValue(text.data(), text.size(), "defs", "allowintervention", value, sizeof value));
    EXPECT_STREQ("FALSE", value);  // the first key of the first section
    EXPECT_EQ(0, IniTextValue(text.data(), text.size(), "defs", "x", value, sizeof value));
    EXPECT_STREQ("", value);
    EXPECT_EQ(1, TextForbidsIntervention(text.data(), text.size()));
    char small[3];
    EXPECT_EQ(1, IniTextValue(text.data(), text.size(), "other", "allowintervention", small, sizeof small));
    EXPECT_STREQ("FA", small);

    for (const char* other : {"[defs]\nallowintervention=false\n", "[defs]\nallowintervention=FALSE.\n",
                              "[defs]\nallowintervention\n", "[defs]\n;allowintervention=FALSE\n",
                              "[defaults]\nallowintervention=FALSE\n", "allowintervention=FALSE\n", ""})
        EXPECT_EQ(0, TextForbidsIntervention(other, std::strlen(other))) << other;
    // The text's length is its end, terminator or not.
    const char cut[] = "[defs]\nallowintervention=FALSE";
    EXPECT_EQ(0, TextForbidsIntervention(cut, sizeof cut - 3));
    EXPECT_EQ(1, TextForbidsIntervention(cut, sizeof cut - 1));
}

TEST(DefsPeekTest, AnyInfOfThePackageCountsAndDamageCountsAsNothing) {
    auto forbids = [](std::string bytes) {
        MemoryStream stream(&bytes);
        PackageFile package;
        AttachPackage(&package, &stream, bytes.size(), 0);
        const int result = PackageForbidsIntervention(&package);
        DetachPackage(&package);
        return result;
    };
    const std::string no = "[defs]\r\ncomponents=a\r\n";
    const std::string yes = "[defs]\r\nallowintervention=FALSE\r\n";
    EXPECT_EQ(1, forbids(Package(Record("a.inf", no) + Record("sub\\B.INF", yes))));
    EXPECT_EQ(0, forbids(Package(Record("a.inf", no) + Record("b.txt", yes))));
    EXPECT_EQ(0, forbids(Package(Record("a.inf", no))));
    EXPECT_EQ(0, forbids(kImage));
    // A record whose lengths do not fit ends the look, as it ends the
    // extraction.
    EXPECT_EQ(0, forbids(Package(RawRecord(100000, 6, "a.inf") + Record("b.inf", yes))));
}
