// The extraction library: one export, UnzipPackage, which unpacks a cabinet
// or ZIP archive into a folder. Every archive is read twice: first a dry run
// that checks every entry's name and data without writing anything, then the
// real unpacking, so that an unsafe or damaged archive leaves the target as
// it was.
#include <windows.h>

#include "archives.h"

namespace {

enum ArchiveFormat { FormatUnknown, FormatCabinet, FormatZip };

ArchiveFormat DetectFormat(HANDLE file) {
    unsigned char head[4] = {0, 0, 0, 0};
    DWORD got = 0;
    if (!ReadFile(file, head, sizeof head, &got, nullptr) || got < sizeof head) return FormatUnknown;
    if (head[0] == 'M' && head[1] == 'S' && head[2] == 'C' && head[3] == 'F') return FormatCabinet;
    if (head[0] == 'P' && head[1] == 'K' &&
        ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6)))
        return FormatZip;
    return FormatUnknown;
}

int Extract(const char* archive, HANDLE file, ArchiveFormat format, const OutputFolder* folder) {
    if (format == FormatCabinet) return ExtractCabinet(archive, folder);
    return ExtractZip(file, folder);
}

}  // namespace

// archive: the archive file; target: the folder to unpack into (created
// with its parents when missing); flag: bit 1 keeps files that already
// exist in the target instead of replacing them, other bits are ignored.
// Returns 1 when every entry was unpacked, 0 otherwise.
extern "C" __declspec(dllexport) int __cdecl UnzipPackage(const char* archive, const char* target,
                                                          int flag) {
    if (!archive || !target || !*archive || !*target) return 0;
    HANDLE file = CreateFileA(archive, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    ArchiveFormat format = DetectFormat(file);
    int ok = format != FormatUnknown;
    OutputFolder folder;
    if (ok) ok = OpenOutputFolder(&folder, target, flag, 1) && Extract(archive, file, format, &folder);
    if (ok) ok = OpenOutputFolder(&folder, target, flag, 0) && Extract(archive, file, format, &folder);
    CloseHandle(file);
    return ok;
}
