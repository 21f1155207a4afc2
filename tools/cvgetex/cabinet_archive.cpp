// Cabinet archives, unpacked by the system's own cabinet library through
// its FDI interface. The library reads the archive and hands over each
// file's data through the callbacks below, which write it through the
// output folder's entry writers.
#include <fcntl.h>
#include <fdi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "archives.h"
#include "base/code_page_win.h"

namespace {

// What an FDI file handle stands for: the archive (or any file the library
// opens for reading) or an entry being written.
struct CabContext;

struct CabHandle {
    HANDLE file;
    EntryWriter* writer;
    CabContext* context;  // for entries: whose current entry this is
    unsigned long long expected;  // for entries: the size the cabinet gives
    unsigned long long written;
};

struct CabContext {
    const OutputFolder* folder;
    CabHandle* current;  // the entry being written, until it is closed
    int failed;
};

FNALLOC(CabAlloc) {
    return malloc(cb);
}

FNFREE(CabFree) {
    free(pv);
}

FNOPEN(CabOpen) {
    // The library only reads: the archive itself. Nothing else is opened.
    if (oflag & (_O_WRONLY | _O_RDWR | _O_CREAT)) return -1;
    HANDLE file = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    CabHandle* h = (CabHandle*)calloc(1, sizeof(CabHandle));
    if (!h) {
        CloseHandle(file);
        return -1;
    }
    h->file = file;
    return (INT_PTR)h;
}

FNREAD(CabRead) {
    CabHandle* h = (CabHandle*)hf;
    if (!h->file) return (UINT)-1;
    DWORD got = 0;
    if (!ReadFile(h->file, pv, cb, &got, nullptr)) return (UINT)-1;
    return got;
}

FNWRITE(CabWrite) {
    CabHandle* h = (CabHandle*)hf;
    if (!h->writer || !WriteEntry(h->writer, pv, cb)) return (UINT)-1;
    h->written += cb;
    return cb;
}

FNCLOSE(CabClose) {
    CabHandle* h = (CabHandle*)hf;
    if (h->writer) {
        // Closed without its close notification: the library gave up on
        // this entry, so its data is incomplete.
        AbandonEntry(h->writer);
        free(h->writer);
        if (h->context && h->context->current == h) h->context->current = nullptr;
    }
    if (h->file) CloseHandle(h->file);
    free(h);
    return 0;
}

FNSEEK(CabSeek) {
    CabHandle* h = (CabHandle*)hf;
    if (!h->file) return -1;
    DWORD method = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END : FILE_BEGIN;
    DWORD position = SetFilePointer(h->file, dist, nullptr, method);
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return (long)position;
}

FNFDINOTIFY(CabNotify) {
    CabContext* context = (CabContext*)pfdin->pv;
    switch (fdint) {
        case fdintCABINET_INFO:
        case fdintENUMERATE:
            return 0;
        case fdintCOPY_FILE: {
            // A name without the UTF-8 mark is in the code page of the
            // system that made the cabinet: the legacy one, also where the
            // program that loaded the library runs in UTF-8.
            UINT codePage = (pfdin->attribs & _A_NAME_IS_UTF) ? CP_UTF8 : LegacyCodePage();
            wchar_t relative[MAX_PATH];
            int isFolder = 0;
            const char* name = pfdin->psz1;
            if (!MakeEntryPath(context->folder, name, (int)strlen(name), codePage, relative,
                               &isFolder) ||
                isFolder || !relative[0]) {
                context->failed = 1;
                return -1;
            }
            EntryWriter* writer = (EntryWriter*)calloc(1, sizeof(EntryWriter));
            CabHandle* h = (CabHandle*)calloc(1, sizeof(CabHandle));
            if (!writer || !h || !BeginEntry(context->folder, relative, writer)) {
                free(writer);
                free(h);
                context->failed = 1;
                return -1;
            }
            h->writer = writer;
            h->context = context;
            h->expected = (unsigned long)pfdin->cb;
            context->current = h;
            return (INT_PTR)h;
        }
        case fdintCLOSE_FILE_INFO: {
            CabHandle* h = (CabHandle*)pfdin->hf;
            // Whatever the library reports, a file shorter or longer than
            // the cabinet says is not put in place.
            int committed = 0;
            if (h->written == h->expected)
                committed = CommitEntry(h->writer, pfdin->date, pfdin->time);
            else
                AbandonEntry(h->writer);
            free(h->writer);
            free(h);
            context->current = nullptr;
            if (!committed) {
                context->failed = 1;
                return FALSE;
            }
            return TRUE;
        }
        case fdintPARTIAL_FILE:
        case fdintNEXT_CABINET:
        default:
            // Cabinets continued in other files are not read.
            context->failed = 1;
            return -1;
    }
}

}  // namespace

int ExtractCabinet(const char* archivePath, const OutputFolder* folder) {
    // The library takes the cabinet as a folder ending in "\" and a name.
    char path[MAX_PATH];
    char name[MAX_PATH];
    size_t length = strlen(archivePath);
    if (length >= MAX_PATH) return 0;
    const char* slash = strrchr(archivePath, '\\');
    const char* other = strrchr(archivePath, '/');
    if (other > slash) slash = other;
    size_t folderLength = slash ? (size_t)(slash - archivePath) + 1 : 0;
    memcpy(path, archivePath, folderLength);
    path[folderLength] = 0;
    strcpy(name, archivePath + folderLength);

    ERF error;
    memset(&error, 0, sizeof error);
    HFDI fdi = FDICreate(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                         cpuUNKNOWN, &error);
    if (!fdi) return 0;
    CabContext context;
    context.folder = folder;
    context.current = nullptr;
    context.failed = 0;
    BOOL copied = FDICopy(fdi, name, path, 0, CabNotify, nullptr, &context);
    if (context.current) {
        // Left open when the library stopped in the middle of an entry.
        AbandonEntry(context.current->writer);
        free(context.current->writer);
        free(context.current);
    }
    FDIDestroy(fdi);
    return copied && !context.failed;
}
