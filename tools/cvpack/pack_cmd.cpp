// cvpack pack: writes a copy of the installer executable with files appended
// as package records and the trailer. cvpack list: prints a package's records.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cvpack.h"
#include "setup/package.h"
#include "setup/package_stdio.h"

namespace {

namespace fs = std::filesystem;

const size_t kCopyBuffer = 64 * 1024;

struct Entry {
    std::string name;  // record name, "\" between its parts
    std::string path;  // file on this system
};

// Splits NAME=PATH, turns "/" into "\" and checks the name fits a record.
bool ParseEntry(const char* argument, Entry* entry) {
    const char* equals = std::strchr(argument, '=');
    if (!equals || equals == argument || !equals[1]) {
        std::fprintf(stderr, "cvpack: '%s' is not NAME=PATH\n", argument);
        return false;
    }
    entry->name.assign(argument, static_cast<size_t>(equals - argument));
    entry->path = equals + 1;
    for (char& c : entry->name)
        if (c == '/') c = '\\';
    if (entry->name.size() + 1 > kPackageNameMax) {
        std::fprintf(stderr, "cvpack: record name '%s' is longer than %u bytes\n",
                     entry->name.c_str(), kPackageNameMax - 1);
        return false;
    }
    if (!IsSafeRecordName(entry->name.c_str())) {
        std::fprintf(stderr,
                     "cvpack: record name '%s' must be a relative path without a drive, "
                     "\":\" or \"..\" parts\n",
                     entry->name.c_str());
        return false;
    }
    return true;
}

// Size of a regular file, or -1 with a message.
long long RegularFileSize(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(fs::u8path(path), error)) {
        std::fprintf(stderr, "cvpack: %s: no such file\n", path.c_str());
        return -1;
    }
    const auto size = fs::file_size(fs::u8path(path), error);
    if (error) {
        std::fprintf(stderr, "cvpack: %s: %s\n", path.c_str(), error.message().c_str());
        return -1;
    }
    return static_cast<long long>(size);
}

// Copies exactly `length` bytes from `in` to `out`.
bool CopyBytes(std::FILE* in, std::FILE* out, uint64_t length, const std::string& from) {
    std::vector<char> buffer(kCopyBuffer);
    while (length > 0) {
        const size_t want = length < buffer.size() ? static_cast<size_t>(length) : buffer.size();
        const size_t got = std::fread(buffer.data(), 1, want, in);
        if (got != want) {
            std::fprintf(stderr, "cvpack: %s: read failed or the file changed while packing\n",
                         from.c_str());
            return false;
        }
        if (std::fwrite(buffer.data(), 1, got, out) != got) return false;
        length -= got;
    }
    return true;
}

bool CopyFile(std::FILE* out, const std::string& path, uint64_t length) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "cvpack: %s: cannot open\n", path.c_str());
        return false;
    }
    const bool ok = CopyBytes(in, out, length, path);
    std::fclose(in);
    return ok;
}

// Writes the whole package to `out`; messages for every failure.
bool WritePackage(std::FILE* out, const std::string& base, const std::vector<Entry>& entries) {
    const long long baseSize = RegularFileSize(base);
    if (baseSize < 0) return false;
    uint64_t position = static_cast<uint64_t>(baseSize);
    if (position > 0xFFFFFFFFu) {
        std::fprintf(stderr, "cvpack: %s is larger than a package can address\n", base.c_str());
        return false;
    }
    if (!CopyFile(out, base, position)) return false;
    // Zero bytes after the image, so that the package ends on a multiple of
    // kPackageAlignment: a signing tool then appends its certificate table
    // right after the trailer, where the reader looks for it. Sizes are
    // taken once: a file that changes meanwhile fails its copy.
    std::vector<uint64_t> sizes;
    uint64_t packageSize = kTrailerSize;
    for (const Entry& entry : entries) {
        const long long size = RegularFileSize(entry.path);
        if (size < 0) return false;
        sizes.push_back(static_cast<uint64_t>(size));
        packageSize += kRecordHeaderSize + entry.name.size() + 1 + sizes.back();
    }
    const unsigned padding =
        static_cast<unsigned>((kPackageAlignment - (position + packageSize) % kPackageAlignment) %
                              kPackageAlignment);
    static const unsigned char zeros[kPackageAlignment] = {};
    if (std::fwrite(zeros, 1, padding, out) != padding) return false;
    position += padding;
    if (position > 0xFFFFFFFFu) {
        std::fprintf(stderr, "cvpack: %s is larger than a package can address\n", base.c_str());
        return false;
    }
    const uint32_t firstRecord = static_cast<uint32_t>(position);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        const uint64_t size = sizes[i];
        const uint16_t nameLength = static_cast<uint16_t>(entry.name.size() + 1);
        position += kRecordHeaderSize + nameLength + static_cast<uint64_t>(size);
        // Every record must end where a 32-bit offset can still point.
        if (position > 0xFFFFFFFFu) {
            std::fprintf(stderr, "cvpack: the package would exceed 4 GB at '%s'\n",
                         entry.name.c_str());
            return false;
        }
        unsigned char header[kRecordHeaderSize];
        MakeRecordHeader(header, static_cast<uint32_t>(size), nameLength);
        if (std::fwrite(header, 1, sizeof header, out) != sizeof header ||
            std::fwrite(entry.name.c_str(), 1, nameLength, out) != nameLength)
            return false;
        if (!CopyFile(out, entry.path, static_cast<uint64_t>(size))) return false;
    }
    unsigned char trailer[kTrailerSize];
    MakeTrailer(trailer, firstRecord);
    return std::fwrite(trailer, 1, sizeof trailer, out) == sizeof trailer;
}

}  // namespace

int CmdPack(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: cvpack pack OUT BASE NAME=PATH...\n");
        return 2;
    }
    const std::string outPath = argv[0];
    const std::string base = argv[1];
    std::vector<Entry> entries;
    for (int i = 2; i < argc; ++i) {
        Entry entry;
        if (!ParseEntry(argv[i], &entry)) return 1;
        entries.push_back(entry);
    }
    // Written beside OUT under another name and renamed at the end, so that
    // OUT is either the old file or the complete new one.
    const std::string temporary = outPath + ".cvpack-partial";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cvpack: %s: cannot be written\n", outPath.c_str());
        return 1;
    }
    bool ok = WritePackage(out, base, entries);
    if (std::ferror(out)) ok = false;
    if (std::fclose(out) != 0) ok = false;
    std::error_code error;
    if (ok) {
        fs::rename(fs::u8path(temporary), fs::u8path(outPath), error);
        if (error) {
            std::fprintf(stderr, "cvpack: %s: cannot be written: %s\n", outPath.c_str(),
                         error.message().c_str());
            ok = false;
        }
    } else {
        std::fprintf(stderr, "cvpack: %s left unchanged\n", outPath.c_str());
    }
    if (!ok) fs::remove(fs::u8path(temporary), error);
    return ok ? 0 : 1;
}

int CmdList(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: cvpack list FILE\n");
        return 2;
    }
    const char* path = argv[0];
    if (RegularFileSize(path) < 0) return 1;
    PackageFile package;
    if (!OpenPackageStdio(&package, path, 0)) {
        std::fprintf(stderr, "cvpack: %s: cannot open\n", path);
        return 1;
    }
    if (package.trailerMissing) {
        std::fprintf(stderr, "cvpack: %s holds no package\n", path);
        DetachPackage(&package);
        return 1;
    }
    uint32_t offset = FirstRecordOffset(&package);
    int status = 0;
    for (;;) {
        const uint32_t recordOffset = offset;
        char name[kPackageNameMax];
        uint32_t length = 0;
        const int result = ReadRecord(&package, &offset, name, sizeof name, &length);
        if (result == RecordRead) {
            std::printf("%s\t%" PRIu32 "\n", name, length);
            continue;
        }
        if (result == RecordDamaged) {
            std::fprintf(stderr, "cvpack: %s: damaged record at offset %" PRIu32 "\n", path,
                         recordOffset);
            status = 1;
        } else if (offset < package.recordsEnd) {
            std::fprintf(stderr, "cvpack: %s: truncated record header at offset %" PRIu32 "\n",
                         path, offset);
            status = 1;
        }
        break;
    }
    DetachPackage(&package);
    if (std::fflush(stdout) != 0) status = 1;
    return status;
}
