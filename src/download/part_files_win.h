// Part files of an "http" component: how a part in memory or on the disk
// compares with its part list, and the joiner that puts checked parts
// together, in order, into the component's file while taking its sums.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text_copy.h"
#include "download/fetch_rules.h"
#include "download/line_file.h"
#include "http/codec.h"
#include "http/sha256.h"

namespace fetch_worker {
// A part file on the disk read in blocks of this size.
const int kPartFileBlock = 64 * 1024;

// How a part file compares with what the part list says of it.
enum PartFileCheck { PartFileMatches, PartFileUnreadable, PartFileWrongSize, PartFileWrongSum, PartFileWrongStrongSum };

// Reads the part file at `path` through `block` (kPartFileBlock bytes)
// and compares it with `size` bytes of 32-bit sum `sum` and the SHA-256
// the list gives for `name`; *length gets the bytes it holds.
PartFileCheck CheckPartFile(const char* path, int size, uint32_t sum, const LineFile& list, const char* name,
                            char* block, long long* length);

// Joins checked parts into the output file on a thread of its own, so that
// the total sum and the write of one part overlap with the fetch and check
// of the next. One part at a time: the worker hands a part over only once
// the joiner is done with the one before. A part comes in a buffer, or in
// its file where parts are too large to wait in memory.
class Joiner {
public:
    Joiner()
        : output(nullptr), thread(nullptr), ready(nullptr), idle(nullptr), quit(false), failed(false),
          strong(false) {
        digest.init();
    }
    ~Joiner() {
        Stop();
        std::free(block);
    }
    Joiner(const Joiner&) = delete;
    Joiner& operator=(const Joiner&) = delete;

    // Without a thread (none could be made) each part is joined at once.
    // Each start begins a new file and new sums; with `strongSums` the
    // joined file's SHA-256 is taken as well.
    void Start(FILE* file, bool strongSums) {
        output = file;
        digest.init();
        strong = strongSums;
        strongDigest.init();
        failed = false;
        quit = false;
        ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        idle = CreateEventA(nullptr, FALSE, TRUE, nullptr);
        if (ready && idle) thread = CreateThread(nullptr, 0, Main, this, 0, nullptr);
    }
    // Waits until the part handed over last is joined; false when joining
    // any part failed.
    bool Wait() {
        if (thread) {
            WaitForSingleObject(idle, INFINITE);
            SetEvent(idle);  // still idle for the next wait
        }
        return !failed;
    }
    // Hands over a checked part; the buffer is the joiner's until Wait.
    void Join(const char* bytes, int size) {
        if (thread) WaitForSingleObject(idle, INFINITE);
        part = bytes;
        partSize = size;
        HandOver();
    }
    // Hands over a checked part in its file. The file is not ours alone: its
    // bytes are checked again, against `sum` and the SHA-256 `strongSum`
    // (null for none), as they are joined, and any difference fails the join.
    void JoinFile(const char* path, int size, uint32_t sum, const unsigned char* strongSum) {
        if (thread) WaitForSingleObject(idle, INFINITE);
        part = nullptr;
        partSize = size;
        CopyTruncated(partPath, sizeof partPath, path);
        partSum = sum;
        partStrong = strongSum != nullptr;
        if (strongSum) std::memcpy(partDigest, strongSum, kSha256Size);
        HandOver();
    }
    // Ends the thread once the part in hand is joined.
    void Stop() {
        if (thread) {
            WaitForSingleObject(idle, INFINITE);
            quit = true;
            SetEvent(ready);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            thread = nullptr;
        }
        if (ready) CloseHandle(ready);
        if (idle) CloseHandle(idle);
        ready = idle = nullptr;
    }
    uint32_t Sum32() { return digest.sum32(); }
    void Sha256Final(unsigned char out[kSha256Size]) { strongDigest.final(out); }

private:
    static DWORD WINAPI Main(LPVOID self) {
        Joiner* joiner = static_cast<Joiner*>(self);
        for (;;) {
            WaitForSingleObject(joiner->ready, INFINITE);
            if (joiner->quit) return 0;
            joiner->JoinPart();
            SetEvent(joiner->idle);
        }
    }
    void HandOver() {
        if (thread) {
            SetEvent(ready);
        } else {
            JoinPart();
        }
    }
    void JoinPart() {
        if (failed) return;
        if (!part) {
            JoinPartFile();
            return;
        }
        digest.update(part, static_cast<unsigned>(partSize));
        if (strong) strongDigest.update(part, static_cast<size_t>(partSize));
        if (std::fwrite(part, 1, static_cast<size_t>(partSize), output) != static_cast<size_t>(partSize))
            failed = true;
    }
    void JoinPartFile() {
        if (!block) block = static_cast<char*>(std::malloc(kPartFileBlock));
        FILE* f = block ? std::fopen(partPath, "rb") : nullptr;
        if (!f) {
            failed = true;
            return;
        }
        std::setvbuf(f, nullptr, _IONBF, 0);
        IAD_MD5 weak;
        weak.init();
        Sha256 strongPart;
        long long left = partSize;
        while (left > 0 && !failed) {
            size_t n = std::fread(block, 1, left < kPartFileBlock ? static_cast<size_t>(left) : kPartFileBlock, f);
            if (n == 0) break;
            weak.update(block, static_cast<unsigned>(n));
            if (partStrong) strongPart.update(block, n);
            digest.update(block, static_cast<unsigned>(n));
            if (strong) strongDigest.update(block, n);
            if (std::fwrite(block, 1, n, output) != n) failed = true;
            left -= static_cast<long long>(n);
        }
        char extra;
        bool whole = left == 0 && std::fread(&extra, 1, 1, f) == 0;
        std::fclose(f);
        unsigned char seen[kSha256Size];
        strongPart.final(seen);
        if (!whole || weak.sum32() != partSum || (partStrong && !SameDigest(seen, partDigest))) failed = true;
    }

    FILE* output;
    HANDLE thread;
    HANDLE ready;  // a part was handed over, or the thread is to end
    HANDLE idle;   // the part handed over last is joined
    volatile bool quit;
    volatile bool failed;
    IAD_MD5 digest;
    bool strong;
    Sha256 strongDigest;
    const char* part = nullptr;  // null: the part is in partPath
    int partSize = 0;
    char partPath[300] = "";
    uint32_t partSum = 0;
    bool partStrong = false;
    unsigned char partDigest[kSha256Size] = {};
    char* block = nullptr;
};

// Reads a part file into `buffer` when it holds exactly `size` bytes.
bool ReadWholePart(const char* path, char* buffer, int size);
bool WriteWholePart(const char* path, const char* bytes, int size);
uint32_t Sum32(const char* bytes, int size);
// How a part's bytes in memory compare with the list. Where the list gives
// the strong sum, that decides alone: bytes that match it match the weak
// one the publisher wrote beside it, and the weak one is taken only to say
// how a part differs.
PartFileCheck CheckPartBytes(const char* bytes, int size, uint32_t sum, const LineFile& list, const char* name);
// Whether two files hold the same bytes (false when either cannot be read).
bool SameFileBytes(const char* pathA, const char* pathB);
}  // namespace fetch_worker
