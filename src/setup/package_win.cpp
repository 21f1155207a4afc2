// The package appended to the program, read through the system's file
// handles, and its extraction into the download folder.
#include "setup/package_win.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "setup/download_folder_win.h"

namespace {

class HandleStream final : public PackageStream {
public:
    explicit HandleStream(HANDLE file) : file(file) {}
    int Seek(uint32_t offset) override {
        LARGE_INTEGER distance;
        distance.QuadPart = offset;
        return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != 0;
    }
    int Read(void* buffer, uint32_t size, uint32_t* done) override {
        DWORD n = 0;
        const BOOL ok = ReadFile(file, buffer, size, &n, nullptr);
        *done = n;
        return ok != 0;
    }
    int Append(const void* data, uint32_t size) override {
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) return 0;
        DWORD n = 0;
        return WriteFile(file, data, size, &n, nullptr) && n == size;
    }
    void Release() override {
        CloseHandle(file);
        delete this;
    }

private:
    ~HandleStream() {}
    HANDLE file;
};

const uint32_t kCopyChunk = 2048;

bool HasInfExtension(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot && lstrcmpiA(dot, ".inf") == 0;
}

// Copies `length` bytes of record data into a new file at `target`.
bool WriteRecordFile(PackageFile* package, const char* target, uint32_t length) {
    HANDLE out = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    char buffer[kCopyChunk];
    bool ok = true;
    while (length > 0) {
        const uint32_t chunk = length < kCopyChunk ? length : kCopyChunk;
        DWORD written = 0;
        if (!ReadRecordData(package, buffer, chunk) ||
            !WriteFile(out, buffer, chunk, &written, nullptr) || written != chunk) {
            ok = false;
            break;
        }
        length -= chunk;
    }
    if (!CloseHandle(out)) ok = false;
    return ok;
}

}  // namespace

int OpenPackage(PackageFile* package, const char* path, int writable) {
    package->file = nullptr;
    HANDLE file = CreateFileA(path, writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    HandleStream* stream = nullptr;
    if (GetFileSizeEx(file, &size)) stream = new (std::nothrow) HandleStream(file);
    if (!stream) {
        CloseHandle(file);
        return 0;
    }
    return AttachPackage(package, stream, static_cast<uint64_t>(size.QuadPart), writable);
}

void ClosePackage(PackageFile* package) { DetachPackage(package); }

int ExtractPackage(const char* programPath, const char* folder, SetupDescriptionHandler onInf,
                   void* context) {
    PackageFile package;
    if (!OpenPackage(&package, programPath, 0)) return 1;
    uint32_t offset = FirstRecordOffset(&package);
    const size_t folderLength = std::strlen(folder);
    int result = 1;
    for (;;) {
        char name[kPackageNameMax];
        uint32_t length = 0;
        const int status = ReadRecord(&package, &offset, name, sizeof name, &length);
        if (status == RecordEnd) break;
        // A cut path would name some other file than the record's.
        if (status == RecordDamaged || folderLength + 1 + std::strlen(name) >= MAX_PATH) {
            result = 0;
            break;
        }
        char target[MAX_PATH];
        JoinPath(folder, name, target);
        if (std::strchr(name, '\\') || std::strchr(name, '/')) CreateParentDirectories(target);
        if (!WriteRecordFile(&package, target, length)) {
            result = 0;
            break;
        }
        if (onInf && HasInfExtension(target)) onInf(target, context);
    }
    ClosePackage(&package);
    return result;
}
