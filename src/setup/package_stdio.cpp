// The package stream over a C library file, with 64-bit positions.
#include "setup/package_stdio.h"

#include <new>

namespace {

int SeekTo(std::FILE* file, long long offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence);
#else
    return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

long long Tell(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<long long>(ftello(file));
#endif
}

class StdioStream final : public PackageStream {
public:
    explicit StdioStream(std::FILE* file) : file(file) {}
    int Seek(uint32_t offset) override { return SeekTo(file, offset, SEEK_SET) == 0; }
    int Read(void* buffer, uint32_t size, uint32_t* done) override {
        const size_t n = std::fread(buffer, 1, size, file);
        *done = static_cast<uint32_t>(n);
        return !(n < size && std::ferror(file));
    }
    int Append(const void* data, uint32_t size) override {
        if (SeekTo(file, 0, SEEK_END) != 0) return 0;
        return std::fwrite(data, 1, size, file) == size && std::fflush(file) == 0;
    }
    void Release() override {
        std::fclose(file);
        delete this;
    }

private:
    ~StdioStream() {}
    std::FILE* file;
};

}  // namespace

long long StdioFileSize(std::FILE* file) {
    if (SeekTo(file, 0, SEEK_END) != 0) return -1;
    const long long size = Tell(file);
    if (SeekTo(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

int OpenPackageStdio(PackageFile* package, const char* path, int writable) {
    package->file = nullptr;
    std::FILE* file = std::fopen(path, writable ? "r+b" : "rb");
    if (!file) return 0;
    const long long size = StdioFileSize(file);
    StdioStream* stream = size < 0 ? nullptr : new (std::nothrow) StdioStream(file);
    if (!stream) {
        std::fclose(file);
        return 0;
    }
    return AttachPackage(package, stream, static_cast<uint64_t>(size), writable);
}
