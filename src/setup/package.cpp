// The package reader: trailer, record walk and the checks that keep a
// damaged or hostile package from being misread or written outside the
// download folder.
#include "setup/package.h"

#include <cstring>

#include "setup/component.h"

const char kPackageMagic[12] = {'R', 'a', 'r', 'O', 'r', 'u', 'r', ' ', 'D', 'a', 't', 'a'};

void StoreU32(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
    at[2] = static_cast<unsigned char>(value >> 16);
    at[3] = static_cast<unsigned char>(value >> 24);
}

void StoreU16(unsigned char* at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

uint32_t LoadU32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint16_t LoadU16(const unsigned char* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

void MakeRecordHeader(unsigned char header[8], uint32_t dataLength, uint16_t nameLength) {
    StoreU32(header, dataLength);
    StoreU16(header + 4, nameLength);
    StoreU16(header + 6, 0xFFFF);
}

void MakeTrailer(unsigned char trailer[16], uint32_t firstRecordOffset) {
    StoreU32(trailer, firstRecordOffset);
    std::memcpy(trailer + 4, kPackageMagic, sizeof kPackageMagic);
}

namespace {

bool ReadExactly(PackageStream* stream, void* buffer, uint32_t size) {
    uint32_t done = 0;
    return stream->Read(buffer, size, &done) && done == size;
}

void MarkTrailerMissing(PackageFile* package, uint32_t size) {
    MakeTrailer(package->trailer, size);
    package->recordsEnd = size;
    package->trailerMissing = 1;
}

// Offsets within the headers of a PE image.
const uint32_t kNewHeaderPointer = 0x3C;   // in the MZ header
const uint32_t kOptionalHeaderSizeAt = 20; // after "PE\0\0": the file header's field
const uint32_t kOptionalHeaderAt = 24;     // "PE\0\0" and the 20-byte file header
const unsigned kSecurityDirectory = 4;     // index among the data directories

bool ReadAt(PackageStream* stream, uint32_t offset, void* buffer, uint32_t size,
            uint32_t fileSize) {
    if (static_cast<uint64_t>(offset) + size > fileSize) return false;
    return stream->Seek(offset) && ReadExactly(stream, buffer, size);
}

}  // namespace

uint32_t PackageEnd(PackageStream* stream, uint32_t fileSize) {
    unsigned char mz[kNewHeaderPointer + 4];
    if (!ReadAt(stream, 0, mz, sizeof mz, fileSize) || mz[0] != 'M' || mz[1] != 'Z')
        return fileSize;
    const uint32_t pe = LoadU32(mz + kNewHeaderPointer);
    unsigned char head[kOptionalHeaderAt + 2];
    if (!ReadAt(stream, pe, head, sizeof head, fileSize) || std::memcmp(head, "PE\0\0", 4) != 0)
        return fileSize;
    const uint32_t optionalSize = LoadU16(head + kOptionalHeaderSizeAt);
    // The directory count and the directories sit further in the 64-bit
    // optional header, whose image base is 8 bytes instead of 4.
    uint32_t countAt = 0;
    switch (LoadU16(head + kOptionalHeaderAt)) {
        case 0x10B: countAt = 92; break;   // PE32
        case 0x20B: countAt = 108; break;  // PE32+
        default: return fileSize;
    }
    const uint32_t directoryAt = countAt + 4 + kSecurityDirectory * 8;
    if (optionalSize < directoryAt + 8) return fileSize;
    unsigned char count[4];
    unsigned char directory[8];
    const uint64_t optional = static_cast<uint64_t>(pe) + kOptionalHeaderAt;
    if (optional + directoryAt + 8 > fileSize) return fileSize;
    if (!ReadAt(stream, static_cast<uint32_t>(optional + countAt), count, 4, fileSize) ||
        LoadU32(count) <= kSecurityDirectory ||
        !ReadAt(stream, static_cast<uint32_t>(optional + directoryAt), directory, 8, fileSize))
        return fileSize;
    // The directory holds a file offset here, not an address in memory.
    const uint32_t table = LoadU32(directory);
    const uint32_t tableSize = LoadU32(directory + 4);
    if (tableSize == 0 || table > fileSize || tableSize != fileSize - table) return fileSize;
    // The table follows the headers that point at it; and a package needs
    // room for its trailer before it.
    if (table < optional + directoryAt + 8 || table < kTrailerSize) return fileSize;
    return table;
}

// A record's name is written where a "files" name would be: the same rule.
int IsSafeRecordName(const char* name) { return IsSafeFileName(name); }

int AttachPackage(PackageFile* package, PackageStream* stream, uint64_t fileSize, int writable) {
    package->file = stream;
    package->writable = writable;
    package->trailerMissing = 0;
    std::memset(package->trailer, 0, sizeof package->trailer);
    // Offsets are 32-bit: a larger file cannot hold a package we can address.
    if (fileSize > 0xFFFFFFFFu) {
        MarkTrailerMissing(package, 0xFFFFFFFFu);
        return 1;
    }
    const uint32_t size = PackageEnd(stream, static_cast<uint32_t>(fileSize));
    if (size < kTrailerSize || !stream->Seek(size - kTrailerSize) ||
        !ReadExactly(stream, package->trailer, kTrailerSize) ||
        std::memcmp(package->trailer + 4, kPackageMagic, sizeof kPackageMagic) != 0) {
        MarkTrailerMissing(package, size);
        return 1;
    }
    package->recordsEnd = size - kTrailerSize;
    return 1;
}

uint32_t FirstRecordOffset(const PackageFile* package) { return LoadU32(package->trailer); }

int ReadRecord(PackageFile* package, uint32_t* offset, char* name, unsigned nameSize,
               uint32_t* dataLength) {
    if (!package->file || *offset >= package->recordsEnd) return RecordEnd;
    const uint32_t available = package->recordsEnd - *offset;
    // A header cut off by the trailer ends the walk like the end of the package.
    if (available < kRecordHeaderSize) return RecordEnd;
    unsigned char header[kRecordHeaderSize];
    if (!package->file->Seek(*offset) || !ReadExactly(package->file, header, sizeof header))
        return RecordDamaged;
    const uint32_t length = LoadU32(header);
    const uint16_t nameLength = LoadU16(header + 4);
    if (nameLength == 0 || nameLength > nameSize || nameLength > kPackageNameMax)
        return RecordDamaged;
    const uint64_t needed = static_cast<uint64_t>(nameLength) + length;
    if (needed > available - kRecordHeaderSize) return RecordDamaged;
    if (!ReadExactly(package->file, name, nameLength)) return RecordDamaged;
    // The name is one text filling its whole length: a missing terminator or
    // an early one means the lengths do not describe this record.
    if (name[nameLength - 1] != '\0' || std::strlen(name) != static_cast<size_t>(nameLength - 1)) {
        name[nameLength - 1] = '\0';
        return RecordDamaged;
    }
    if (!IsSafeRecordName(name)) return RecordDamaged;
    *dataLength = length;
    *offset += kRecordHeaderSize + static_cast<uint32_t>(needed);
    return RecordRead;
}

int ReadRecordData(PackageFile* package, void* buffer, uint32_t size) {
    if (!package->file) return 0;
    return ReadExactly(package->file, buffer, size) ? 1 : 0;
}

void DetachPackage(PackageFile* package) {
    if (!package->file) return;
    if (package->writable && package->trailerMissing) {
        unsigned char trailer[kTrailerSize];
        MakeTrailer(trailer, package->recordsEnd);
        package->file->Append(trailer, sizeof trailer);
    }
    package->file->Release();
    package->file = nullptr;
}
