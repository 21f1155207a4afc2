// The fetch worker's own declarations, shared by its two halves: reaching
// the part list through the proxy arrangements (fetch_worker_win.cpp), and
// fetching, checking and joining the parts over connections of their own
// (fetch_parts_win.cpp).
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "base/process_win.h"
#include "base/run_log.h"
#include "base/text_copy.h"
#include "download/http_downloader_win.h"
#include "download/http_settings_dialog_win.h"
#include "download/line_file.h"
#include "download/part_files_win.h"
#include "download/pac_lookup_win.h"
#include "download/pac_rules.h"
#include "download/proxy_discovery_win.h"
#include "download/proxy_rules.h"
#include "download/fetch_rules.h"
#include "download/report_bytes.h"
#include "http/codec.h"
#include "http/http_url.h"
#include "http/proxy_auth.h"
#include "http/secure_channel.h"
#include "resources/resource.h"
#include "http/sspi_login_win.h"

namespace fetch_worker {
const char kPartList[] = "pkginfo.txt";
extern BasicProxyMemory basicProxies;
// Logs a certificate that `http`'s last fetch refused and gives its
// TlsFailure and host; 0 (host untouched) when it refused none.
int CertificateRefused(const IAD_HTTPClient& http, char* host, int hostSize);

class Worker;

// A connection of its own that brings in the parts the worker hands it, on
// a thread of its own: each part checked, written to its part file and left
// in the buffer it came with, to be joined in order by the worker.
struct PartSlot {
    Worker* worker = nullptr;
    const HttpTransferState* state = nullptr;
    const volatile bool* abort = nullptr;  // the worker ends the parts in flight
    IAD_HTTPClient* client = nullptr;      // the worker's own for the first slot
    IAD_HTTPClient* ownClient = nullptr;
    SspiProxyLogin* ownLogin = nullptr;
    BasicProxyMemory basic;  // a copy: the worker's record is the first slot's
    HANDLE thread = nullptr;
    HANDLE go = nullptr;    // a part was handed over, or the thread is to end
    HANDLE done = nullptr;  // the part handed over came in or was given up (reset by the worker)
    HANDLE wake = nullptr;  // a pause or stop request changed (passed on by the worker)
    volatile bool quit = false;
    bool busy = false;
    bool awaitsList = false;  // its part waits for the part list to be fetched again
    // The part in hand, in buffer `entry` of the worker's.
    int size = 0;
    char name[32] = "";
    char* buffer = nullptr;
    int entry = -1;
    int failures = 0;          // failed tries of the part so far
    bool listFetched = false;  // handed back after the list was fetched again
    PartListDoubt doubt;
    int outcome = 0;  // a Worker::Outcome
    bool present = false;  // found on the disk, checked
    bool fetched = false;  // came from the site just now
    int retries = 0;
    int certificateFailure = 0;
    char certificateHost[256] = "";
    char url[1400] = "";
};

class Worker {
public:
    explicit Worker(HttpTransferState* state)
        : state(state), client(0, state->timeouts), output(nullptr) {
        for (char*& buffer : buffers) buffer = nullptr;
        url[0] = proxy[0] = 0;
        CopyTruncated(remotePath, sizeof remotePath, state->remotePath);
        CopyTruncated(directory, sizeof directory, state->localFile);
        CopyTruncated(localFile, sizeof localFile, state->localFile);
        char* slash = std::strrchr(directory, '\\');
        if (slash) slash[1] = 0;
        else directory[0] = 0;
        client.set_proxy_login(&login);
        client.set_basic_memory(&basicProxies);
        client.set_cancel(TransferUnwanted, state);
    }
    ~Worker() {
        if (slots) EndSlots();
        // The joiner lets go of the buffers and the output first.
        joiner.Stop();
        FreeBuffers();
        if (output) std::fclose(output);
    }

    int Run();

private:
    // ListChanged: the part list was fetched again and differs; the parts
    // start over with it. ListDoubted: a part's bytes came whole and
    // disagreed with the list several tries in a row: the list is fetched
    // again before its next try.
    enum Outcome { Done, Stopped, Failed, ListChanged, ListDoubted };

    // The client's cancel question: a stop (not one made during a pause,
    // which clearing the pause drops) or a transport that is gone ends the
    // part in progress, so that its file is closed at once.
    static bool TransferUnwanted(void* context) {
        const HttpTransferState* s = static_cast<const HttpTransferState*>(context);
        return s->abandoned || (s->stopRequested && !s->pauseRequested);
    }
    // The same for a slot's connection, which the worker also ends when
    // another part failed.
    static bool SlotTransferUnwanted(void* context) {
        const PartSlot* slot = static_cast<const PartSlot*>(context);
        return *slot->abort || TransferUnwanted(const_cast<HttpTransferState*>(slot->state));
    }
    static DWORD WINAPI SlotThread(LPVOID slot);

    Outcome ReachPartList();
    // One attempt at the part list with the url and proxy set; logged with
    // its outcome and the reasons of a failure.
    bool TryPartList(const char* listPath, const char* attemptName);
    // The browser step's proxies: a script's entries, then the fixed one.
    bool TryScriptProxies(const char* listPath, Outcome* outcome);
    void UseFoundProxy(const char* address, const char* port);
    // Lets the logged-on user's own login go to the proxy set last, or not,
    // by where it came from.
    void DecideOwnLogin(ProxyOrigin origin, const PacEntry& entry);
    Outcome FetchParts();
    // One pass over the parts of the part list on the disk.
    Outcome JoinParts();
    // Brings in the slot's part, on the slot's thread.
    Outcome FetchPart(PartSlot& slot);
    // Slots for up to `count` connections, the first over the worker's own
    // client; how many could be made (0: none).
    int StartSlots(int count);
    bool MakeSlot(PartSlot& slot, int index);
    // Ends the slots' threads (every part in flight is let finish or end
    // first) and counts their connections.
    void EndSlots();
    void EndSlot(PartSlot& slot);
    // Hands the slot its part: its thread brings it in, or this one where
    // no thread could be made.
    void Dispatch(PartSlot& slot);
    // Fetches the part list again, with the proxy that reached it, after a
    // part kept failing its sum: ListChanged when a whole list came that
    // differs from the one in use (it then replaces it), else Done with the
    // list in use kept.
    Outcome FetchPartListAgain(const char* partName);
    bool StopNow() const { return state->stopRequested || state->abandoned; }
    bool SlotStopNow() const { return StopNow() || abortParts; }
    // Remembers a certificate that failed in the client's last fetch; true
    // when it did.
    bool CertificateFailed();
    // Logs a certificate accepted whose revocation was not known.
    void NoteRevocation();
    // Waits on `wake`: the state block's own, or a slot's, which the worker
    // sets whenever the block's is set.
    void WaitWhilePaused(HANDLE wake);
    void Pause(int milliseconds, HANDLE wake);
    void WaitWhilePaused() { WaitWhilePaused(state->wake); }
    void Pause(int milliseconds) { Pause(milliseconds, state->wake); }
    void Report(UINT message, WPARAM wParam, LPARAM lParam);
    // "dl2" (code 0) or "dl3" with a byte count.
    void ReportCount(UINT message, long long bytes);
    void FreeBuffers() {
        for (char*& buffer : buffers) {
            std::free(buffer);
            buffer = nullptr;
        }
    }
    void LocalPath(char* out, int size, const char* name) const {
        std::snprintf(out, size, "%s%s", directory, name);
    }

    HttpTransferState* state;
    SspiProxyLogin login;  // before the client, which borrows it
    IAD_HTTPClient client;
    int partsFetched = 0;
    int partsPresent = 0;
    int retries = 0;
    // The list is read by every slot while parts are in flight, and loaded
    // only while none is.
    LineFile list;
    Joiner joiner;
    FILE* output;
    // Parts waiting to be joined, each in a buffer of bufferSize bytes.
    static const int kMostBuffers = 3 * kMostConnections;
    char* buffers[kMostBuffers];
    int bufferSize = 0;
    PartSlot* slots = nullptr;
    int slotCount = 0;
    // Set when a part failed: the other parts in flight end at once.
    volatile bool abortParts = false;
    // Connections of slots that have ended.
    int slotConnections = 0;
    // The logged-on user's own login may go to the proxy that reached the
    // part list (see DecideOwnLogin); every slot's client is told the same.
    bool ownLoginAllowed = true;
    char url[1400];
    char proxy[1100];
    char remotePath[1000];
    char localFile[260];
    char directory[260];
    int certificateFailure = 0;  // a TlsFailure about the certificate, or 0
    // The last part list reached was refused by the setup's fingerprint.
    bool pinRefused = false;
    char certificateHost[256] = "";
    int revocationNoted = RevocationChecked;
    // The component's own settings as the transport had them when the
    // worker started: every round's first attempt is made with them, and
    // a proxy found on the way never takes their place.
    HttpSettings configured;
    // A discovered proxy that asked for a Windows login the logged-on user's
    // own login was not offered to: the settings dialog shows it, so that
    // the user decides.
    char withheldAddress[260] = "";
    char withheldPort[260] = "";
};
}  // namespace fetch_worker
