// ZIP archives: stored and deflated entries, found through the central
// directory. Every offset and length read from the archive is checked
// against the file before it is used, and every entry's size and CRC-32 are
// checked after it is unpacked.
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "archives.h"

namespace {

const unsigned kEndRecordSize = 22;
const unsigned kCentralHeaderSize = 46;
const unsigned kLocalHeaderSize = 30;
const unsigned kChunk = 64 * 1024;

struct ZipEntry {
    unsigned flags;
    unsigned method;
    unsigned crc;
    unsigned long long packedSize;
    unsigned long long size;
    unsigned long long localOffset;
    unsigned short dosTime;
    unsigned short dosDate;
    const char* name;  // inside the central directory buffer
    unsigned nameLength;
};

unsigned Get16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}

unsigned Get32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned)p[3] << 24);
}

int ReadAt(HANDLE file, unsigned long long offset, void* buffer, unsigned length) {
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return 0;
    char* p = (char*)buffer;
    while (length > 0) {
        DWORD got = 0;
        if (!ReadFile(file, p, length, &got, nullptr) || got == 0) return 0;
        p += got;
        length -= got;
    }
    return 1;
}

struct ZipArchive {
    HANDLE file;
    unsigned long long fileSize;
    unsigned long long directoryOffset;  // entry data must end before it
    unsigned char* directory;
    ZipEntry* entries;
    unsigned count;
};

// Finds the end record (the last one whose comment fits the file) and reads
// the central directory it points to.
int ReadDirectory(ZipArchive* zip) {
    unsigned tailLength =
        zip->fileSize < kEndRecordSize + 65535 ? (unsigned)zip->fileSize : kEndRecordSize + 65535;
    if (tailLength < kEndRecordSize) return 0;
    unsigned char* tail = (unsigned char*)malloc(tailLength);
    if (!tail) return 0;
    unsigned long long tailStart = zip->fileSize - tailLength;
    if (!ReadAt(zip->file, tailStart, tail, tailLength)) {
        free(tail);
        return 0;
    }
    long found = -1;
    for (long i = (long)(tailLength - kEndRecordSize); i >= 0; --i) {
        if (Get32(tail + i) == 0x06054b50 &&
            i + kEndRecordSize + Get16(tail + i + 20) <= tailLength) {
            found = i;
            break;
        }
    }
    if (found < 0) {
        free(tail);
        return 0;
    }
    const unsigned char* end = tail + found;
    unsigned disk = Get16(end + 4), directoryDisk = Get16(end + 6);
    unsigned onDisk = Get16(end + 8), total = Get16(end + 10);
    unsigned long long directorySize = Get32(end + 12);
    unsigned long long directoryOffset = Get32(end + 16);
    unsigned long long endOffset = tailStart + (unsigned long long)found;
    free(tail);
    // Archives split over several files and the 64-bit extension are not read.
    if (disk != 0 || directoryDisk != 0 || onDisk != total) return 0;
    if (total == 0xffff || directorySize == 0xffffffffull || directoryOffset == 0xffffffffull)
        return 0;
    if (directoryOffset + directorySize > endOffset) return 0;
    zip->directoryOffset = directoryOffset;
    zip->count = total;
    zip->directory = (unsigned char*)malloc(directorySize ? (size_t)directorySize : 1);
    zip->entries = (ZipEntry*)calloc(total ? total : 1, sizeof(ZipEntry));
    if (!zip->directory || !zip->entries) return 0;
    if (directorySize && !ReadAt(zip->file, directoryOffset, zip->directory, (unsigned)directorySize))
        return 0;

    unsigned long long at = 0;
    for (unsigned i = 0; i < total; ++i) {
        if (at + kCentralHeaderSize > directorySize) return 0;
        const unsigned char* h = zip->directory + at;
        if (Get32(h) != 0x02014b50) return 0;
        ZipEntry* e = &zip->entries[i];
        e->flags = Get16(h + 8);
        e->method = Get16(h + 10);
        e->dosTime = (unsigned short)Get16(h + 12);
        e->dosDate = (unsigned short)Get16(h + 14);
        e->crc = Get32(h + 16);
        e->packedSize = Get32(h + 20);
        e->size = Get32(h + 24);
        e->nameLength = Get16(h + 28);
        unsigned extra = Get16(h + 30), comment = Get16(h + 32);
        e->localOffset = Get32(h + 42);
        unsigned long long next = at + kCentralHeaderSize + e->nameLength + extra + comment;
        if (next > directorySize) return 0;
        if (e->packedSize == 0xffffffffull || e->size == 0xffffffffull ||
            e->localOffset == 0xffffffffull)
            return 0;
        e->name = (const char*)h + kCentralHeaderSize;
        at = next;
    }
    return 1;
}

// Unpacks one entry's data into the writer, checking its size and CRC-32.
int UnpackEntry(const ZipArchive* zip, const ZipEntry* e, EntryWriter* writer) {
    unsigned char local[kLocalHeaderSize];
    if (e->localOffset + kLocalHeaderSize > zip->directoryOffset) return 0;
    if (!ReadAt(zip->file, e->localOffset, local, sizeof local)) return 0;
    if (Get32(local) != 0x04034b50) return 0;
    unsigned long long data =
        e->localOffset + kLocalHeaderSize + Get16(local + 26) + Get16(local + 28);
    if (data + e->packedSize > zip->directoryOffset) return 0;
    if (e->method == 0 && e->packedSize != e->size) return 0;

    unsigned char* in = (unsigned char*)malloc(kChunk);
    unsigned char* out = (unsigned char*)malloc(kChunk);
    z_stream z;
    memset(&z, 0, sizeof z);
    int ok = in && out;
    int inflating = 0;
    if (ok && e->method == 8) {
        ok = inflateInit2(&z, -MAX_WBITS) == Z_OK;
        inflating = ok;
    }
    unsigned long crc = crc32(0L, Z_NULL, 0);
    unsigned long long produced = 0;
    unsigned long long left = e->packedSize;
    unsigned long long position = data;
    int ended = e->method == 0;
    while (ok && left > 0) {
        unsigned n = left < kChunk ? (unsigned)left : kChunk;
        if (!ReadAt(zip->file, position, in, n)) {
            ok = 0;
            break;
        }
        position += n;
        left -= n;
        if (e->method == 0) {
            crc = crc32(crc, in, n);
            produced += n;
            ok = WriteEntry(writer, in, n);
            continue;
        }
        z.next_in = in;
        z.avail_in = n;
        // Inflate until this input is used up and no output is pending.
        do {
            z.next_out = out;
            z.avail_out = kChunk;
            int status = inflate(&z, Z_NO_FLUSH);
            if (status == Z_BUF_ERROR) break;  // needs more input
            if (status != Z_OK && status != Z_STREAM_END) {
                ok = 0;
                break;
            }
            unsigned got = kChunk - z.avail_out;
            produced += got;
            if (produced > e->size) {
                ok = 0;
                break;
            }
            crc = crc32(crc, out, got);
            ok = WriteEntry(writer, out, got);
            if (status == Z_STREAM_END) ended = 1;
        } while (ok && !ended && (z.avail_in > 0 || z.avail_out == 0));
    }
    if (inflating) inflateEnd(&z);
    free(in);
    free(out);
    return ok && ended && produced == e->size && crc == e->crc;
}

void CloseZip(ZipArchive* zip) {
    free(zip->directory);
    free(zip->entries);
}

}  // namespace

int ExtractZip(HANDLE file, const OutputFolder* folder) {
    ZipArchive zip;
    memset(&zip, 0, sizeof zip);
    zip.file = file;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return 0;
    zip.fileSize = (unsigned long long)size.QuadPart;
    int ok = ReadDirectory(&zip);
    for (unsigned i = 0; ok && i < zip.count; ++i) {
        const ZipEntry* e = &zip.entries[i];
        UINT codePage = (e->flags & 0x800) ? CP_UTF8 : 437;
        wchar_t relative[MAX_PATH];
        int isFolder = 0;
        if (!MakeEntryPath(folder, e->name, (int)e->nameLength, codePage, relative, &isFolder)) {
            ok = 0;
            break;
        }
        if (isFolder) {
            if (e->size != 0) ok = 0;
            if (ok) ok = MakeFolderEntry(folder, relative);
            continue;
        }
        if (!relative[0] || (e->flags & 1) || (e->method != 0 && e->method != 8)) {
            ok = 0;  // no name, encrypted, or a method not read here
            break;
        }
        EntryWriter writer;
        if (!BeginEntry(folder, relative, &writer)) {
            ok = 0;
            break;
        }
        if (!UnpackEntry(&zip, e, &writer)) {
            AbandonEntry(&writer);
            ok = 0;
            break;
        }
        ok = CommitEntry(&writer, e->dosDate, e->dosTime);
    }
    CloseZip(&zip);
    return ok;
}
