// Fuzzes the package reader: any bytes as a program file with a package,
// walked to the end while every record's data is read, and looked into for
// allowintervention as start-up does; and the bytes as a setup
// description's text.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "setup/defs_peek.h"
#include "setup/package.h"

namespace {

class MemoryStream final : public PackageStream {
public:
    MemoryStream(const uint8_t* data, size_t size) : data(data), size(size) {}
    int Seek(uint32_t offset) override {
        if (offset > size) return 0;
        position = offset;
        return 1;
    }
    int Read(void* buffer, uint32_t want, uint32_t* done) override {
        const size_t n = want < size - position ? want : size - position;
        std::memcpy(buffer, data + position, n);
        position += n;
        *done = static_cast<uint32_t>(n);
        return 1;
    }
    int Append(const void*, uint32_t) override { return 0; }
    void Release() override {}

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryStream stream(data, size);
    PackageFile package;
    AttachPackage(&package, &stream, size, 0);
    uint32_t offset = FirstRecordOffset(&package);
    // A smaller buffer than the format allows exercises the size check too.
    const unsigned nameSize = size > 0 && (data[0] & 1) ? 17 : kPackageNameMax;
    for (int records = 0; records < 100000; ++records) {
        char name[kPackageNameMax];
        uint32_t length = 0;
        const uint32_t before = offset;
        if (ReadRecord(&package, &offset, name, nameSize, &length) != RecordRead) break;
        if (offset <= before || offset > package.recordsEnd) __builtin_trap();
        if (std::strlen(name) >= nameSize || !IsSafeRecordName(name)) __builtin_trap();
        char chunk[2048];
        while (length > 0) {
            const uint32_t n = length < sizeof chunk ? length : sizeof chunk;
            if (!ReadRecordData(&package, chunk, n)) __builtin_trap();  // lengths were checked
            length -= n;
        }
    }
    DetachPackage(&package);

    MemoryStream again(data, size);
    AttachPackage(&package, &again, size, 0);
    PackageForbidsIntervention(&package);
    DetachPackage(&package);
    char value[8];
    IniTextValue(reinterpret_cast<const char*>(data), size, "defs", "allowintervention", value, sizeof value);
    if (std::strlen(value) >= sizeof value) __builtin_trap();
    return 0;
}
