// The package format appended to the installer executable, shared by the
// program's reader and the publisher's cvpack.
//
// Records follow one another from the trailer's first-record offset up to
// the trailer; all integers are little-endian:
//   4 bytes  data length
//   2 bytes  name length, the name's terminating NUL included (1 to 260)
//   2 bytes  reserved, 0xFFFF
//   name     relative path, "\" between its parts, NUL-terminated
//   data
// The trailer is the package's last 16 bytes: the first record's offset (the
// size of the file before any record was appended, padding included) and
// "RarOrur Data". The package ends with the file, or, in a signed program,
// where the certificate table that the signing tool appended begins.
#pragma once
#include <stdint.h>

const unsigned kRecordHeaderSize = 8;
const unsigned kTrailerSize = 16;
const unsigned kPackageNameMax = 260;  // name bytes including the NUL
// A signing tool starts its certificate table at a multiple of 8 and pads
// the file up to one first; cvpack makes the package end on one, so the
// table starts right after the trailer.
const unsigned kPackageAlignment = 8;
extern const char kPackageMagic[12];   // "RarOrur Data", no terminator

// The file under a package: the program binds it to the system's file
// handles, cvpack and the tests to stdio or memory.
class PackageStream {
public:
    virtual int Seek(uint32_t offset) = 0;
    // Reads up to `size` bytes at the current position; 0 on an error.
    virtual int Read(void* buffer, uint32_t size, uint32_t* done) = 0;
    // Writes at the end of the file; 0 unless all was written.
    virtual int Append(const void* data, uint32_t size) = 0;
    // Closes the file and frees the stream.
    virtual void Release() = 0;

protected:
    ~PackageStream() {}
};

struct PackageFile {
    PackageStream* file;            // null when not open
    unsigned char trailer[16];      // as read, or made up when missing
    int trailerMissing;
    int writable;
    uint32_t recordsEnd;            // where the records end: the trailer
                                    // or, without one, the file size
};

enum RecordResult {
    RecordDamaged = -1,  // the package does not fit its format
    RecordEnd = 0,       // no more records (also a truncated header)
    RecordRead = 1,
};

// Where the package ends in a file of `fileSize` bytes: the start of the
// certificate table when the file is a PE image whose security directory
// names a table running exactly to the end of the file (every offset and
// length checked against the file size), otherwise the file size.
uint32_t PackageEnd(PackageStream* stream, uint32_t fileSize);

// Binds an opened stream of `fileSize` bytes and reads the trailer at the
// package's end (see PackageEnd). A file without the magic there is a
// package without records. Always returns 1.
int AttachPackage(PackageFile* package, PackageStream* stream, uint64_t fileSize, int writable);
uint32_t FirstRecordOffset(const PackageFile* package);
// Reads the record at *offset: its name into `name` (nameSize bytes) and
// its data length; the stream is left at the record's data and *offset
// moves to the next record. Every length is checked against the records'
// end first. A record is damaged when its name length is 0 or larger than
// the buffer, its name is not one NUL-terminated text, the name is unsafe
// (see IsSafeRecordName), its data runs past the records' end, or a read
// comes back short.
int ReadRecord(PackageFile* package, uint32_t* offset, char* name, unsigned nameSize,
               uint32_t* dataLength);
// Reads exactly `size` bytes of record data; 0 on an error or a short read.
int ReadRecordData(PackageFile* package, void* buffer, uint32_t size);
// Appends the trailer when opened writable without one, then releases the
// stream.
void DetachPackage(PackageFile* package);

// A name that stays inside the folder it is written to: relative, without a
// drive or stream (":"), and without ".." parts (nor parts the system would
// read as "..", such as ". ." or "...").
int IsSafeRecordName(const char* name);

void StoreU32(unsigned char* at, uint32_t value);
void StoreU16(unsigned char* at, uint16_t value);
uint32_t LoadU32(const unsigned char* at);
uint16_t LoadU16(const unsigned char* at);
void MakeRecordHeader(unsigned char header[8], uint32_t dataLength, uint16_t nameLength);
void MakeTrailer(unsigned char trailer[16], uint32_t firstRecordOffset);
