// The fetch worker: reaches a component's part list through the first proxy
// arrangement that works, then fetches the parts that are not already
// present with the right sums, several at once over connections of their
// own, checks each against its sums as it arrives (the 32-bit one, and the
// SHA-256 where the list gives strong sums), joins them in order into the
// local file and checks the whole file's sums. A part that keeps failing is
// given up after a bounded number of tries. It reports with "dl2", "dl3" and
// "dl4" and heeds the pause and stop requests between parts. It reads and
// writes only its shared state block, never the transport object itself.
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

namespace {
const char kPartList[] = "pkginfo.txt";
const char kPinMismatch[] = "does not match the fingerprint in the setup";

// The proxies that asked for Basic during this run: every later fetch sends
// them the credentials with its first request. Workers of the process run
// one after another, so one record serves them all without a lock.
BasicProxyMemory basicProxies;

const char* AttemptName(ProxyAttempt attempt) {
    static const char* const names[] = {"the component's own settings", "the browser's proxy",
                                        "a direct connection", "the settings the user gave",
                                        "the proxy of the command line"};
    return attempt >= Configured && attempt <= RunGiven ? names[attempt] : "?";
}

// The TLS failure for the log; "" for none.
const char* TlsFailureText(int reason) {
    static const char* const texts[] = {"", "; TLS unavailable on this system", "; TLS handshake failed",
                                         "; certificate not trusted", "; certificate for another host",
                                         "; certificate expired", "; certificate revoked"};
    return reason >= 0 && reason <= TlsRevoked ? texts[reason] : "; TLS failure";
}

// A proxy text for the log: without the empty user part ":@" of a proxy
// that needs no password (a password shows as "***" anyway).
const char* ProxyShown(const char* proxy) {
    if (!proxy[0]) return "no proxy";
    return proxy[0] == ':' && proxy[1] == '@' ? proxy + 2 : proxy;
}

// The browser step's fixed proxy: the user's browser settings, or the
// machine-wide proxy of the system's HTTP service when the user has none;
// under the system account, whose own settings nobody sets up, the
// machine-wide one first.
bool FindBrowserProxy(char* address, int addressSize, char* port, int portSize) {
    const bool system = RunsAsSystemAccount();
    if (!system && DiscoverBrowserProxy(address, addressSize, port, portSize)) return true;
    if (DiscoverMachineProxy(address, addressSize, port, portSize)) {
        LogEvent("part list: the machine-wide proxy of the system's HTTP service%s: %s:%s",
                 system ? " (the program runs as the system account)" : " (the user has no proxy set)", address,
                 port);
        return true;
    }
    return system && DiscoverBrowserProxy(address, addressSize, port, portSize);
}

// A part file on the disk read in blocks of this size.
const int kPartFileBlock = 64 * 1024;

// How a part file compares with what the part list says of it.
enum PartFileCheck { PartFileMatches, PartFileUnreadable, PartFileWrongSize, PartFileWrongSum, PartFileWrongStrongSum };

// Reads the part file at `path` through `block` (kPartFileBlock bytes)
// and compares it with `size` bytes of 32-bit sum `sum` and the SHA-256
// the list gives for `name`; *length gets the bytes it holds.
PartFileCheck CheckPartFile(const char* path, int size, uint32_t sum, const LineFile& list, const char* name,
                            char* block, long long* length) {
    *length = 0;
    FILE* f = std::fopen(path, "rb");
    if (!f) return PartFileUnreadable;
    std::setvbuf(f, nullptr, _IONBF, 0);
    IAD_MD5 weak;
    weak.init();
    Sha256 strong;
    for (;;) {
        size_t n = std::fread(block, 1, kPartFileBlock, f);
        if (n == 0) break;
        *length += static_cast<long long>(n);
        // Past its size the rest no longer matters.
        if (*length > size) break;
        weak.update(block, static_cast<unsigned>(n));
        strong.update(block, n);
    }
    bool readWhole = !std::ferror(f);
    std::fclose(f);
    if (!readWhole) return PartFileUnreadable;
    if (*length != size) return PartFileWrongSize;
    if (weak.sum32() != sum) return PartFileWrongSum;
    unsigned char digest[kSha256Size];
    strong.final(digest);
    return CheckStrongSum(list, name, digest) == StrongSumDiffers ? PartFileWrongStrongSum : PartFileMatches;
}

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

// Logs a certificate that `http`'s last fetch refused and gives its
// TlsFailure and host; 0 (host untouched) when it refused none.
int CertificateRefused(const IAD_HTTPClient& http, char* host, int hostSize) {
    int reason = http.tls_failure();
    if (CertificateMessageId(reason) == 0) return 0;
    CopyTruncated(host, hostSize, http.tls_failure_host());
    const char* which = http.tls_failure_certificate();
    LogEvent("certificate of %s refused%s%s%s%s", host, TlsFailureText(reason), which[0] ? " (" : "", which,
             which[0] ? ")" : "");
    return reason;
}

bool Worker::CertificateFailed() {
    int reason = CertificateRefused(client, certificateHost, sizeof certificateHost);
    if (reason) certificateFailure = reason;
    return reason != 0;
}

void Worker::NoteRevocation() {
    TlsRevocation known = client.tls_revocation();
    // Once per fetch: every part's connection would say the same.
    if (known == RevocationChecked || known <= revocationNoted) return;
    revocationNoted = known;
    const IAD_URL* where = client.current_url();
    LogEvent("certificate of %s accepted; its revocation could not be checked (%s)",
             where && where->host ? where->host : state->site,
             known == RevocationOffline ? "its revocation server could not be reached"
                                        : "no revocation information");
}

void Worker::Report(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND notify = state->notifyWindow;
    if (notify && !state->abandoned) SendMessageA(notify, message, wParam, lParam);
}

void Worker::ReportCount(UINT message, long long bytes) {
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    PackReportBytes(0, bytes, &wParam, &lParam);
    Report(message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void Worker::WaitWhilePaused(HANDLE wake) {
    // A transport that is gone will never clear its pause.
    while (state->pauseRequested && !state->abandoned && !abortParts) {
        InterlockedIncrement(&state->pauseWaits);
        WaitForSingleObject(wake, 1000);
    }
}

void Worker::Pause(int milliseconds, HANDLE wake) {
    ResetEvent(wake);
    if (state->pauseRequested || SlotStopNow()) return;
    WaitForSingleObject(wake, static_cast<DWORD>(milliseconds));
}

bool Worker::TryPartList(const char* listPath, const char* attemptName) {
    bool addressed = client.set_urls(url, proxy) == 0;
    client.set_file_limit(kPartListBytes);
    bool reached = addressed && client.GetFile(nullptr, listPath) == 0;
    // A pinned list is taken only as the publisher pinned it: the bytes as
    // served, before anything in them is believed.
    pinRefused = false;
    if (reached && state->pinned) {
        unsigned char served[kSha256Size];
        if (Sha256OfFile(listPath, served) != 0 || !SameDigest(served, state->pin)) {
            reached = false;
            pinRefused = true;
            DeleteFileA(listPath);
        }
    }
    // A list that does not read whole is a failed fetch, tried again like
    // any other: taken as it is, its parts would fail their sums.
    char cut[80] = "";
    if (reached && !pinRefused && (list.Load(listPath) != 0 || !PartListWhole(list, cut, sizeof cut))) {
        reached = false;
        if (!cut[0]) std::snprintf(cut, sizeof cut, "it cannot be read back");
    }
    if (reached) NoteRevocation();
    // The proxy's login: the one that got through, or what a refusing proxy
    // asked for (no credentials here: the proxy text shows "***").
    char login[80] = "";
    if (reached && client.proxy_login_scheme()) {
        std::snprintf(login, sizeof login, "; proxy login %s", ProxySchemeName(client.proxy_login_scheme()));
    } else if (!reached && proxy[0] && std::strstr(client.last_failure(), "status 407")) {
        std::snprintf(login, sizeof login, "; the proxy asks for a login:");
        for (int scheme : {int(kSchemeBasic), int(kSchemeNtlm), int(kSchemeNegotiate)}) {
            if (!(client.proxy_schemes_asked() & scheme)) continue;
            AppendTruncated(login, sizeof login, " ");
            AppendTruncated(login, sizeof login, ProxySchemeName(scheme));
        }
    }
    const char* why = reached      ? ""
                      : pinRefused ? kPinMismatch
                      : cut[0]     ? "the part list is not whole: "
                      : addressed ? client.last_failure()
                                  : "no host in the address";
    const char* detail = reached || pinRefused ? "" : cut[0] ? cut : TlsFailureText(client.tls_failure());
    // The list's address as the parser reads the site, without any user
    // information the site text may carry.
    char shown[1400];
    if (!PacLookupUrl(state->site, remotePath, kPartList, shown, sizeof shown))
        std::snprintf(shown, sizeof shown, "of a site that names no host");
    LogEvent("part list %s with %s (%s): %s%s%s%s", shown, attemptName, ProxyShown(proxy),
             reached ? "reached" : "failed: ", why, detail, login);
    return reached;
}

// A proxy found by the browser step goes into the shared settings, without
// credentials; an empty address means no proxy. The component's own
// settings stay as they are.
void Worker::UseFoundProxy(const char* address, const char* port) {
    HttpSettings& shared = SharedHttpSettings;
    if (address != shared.proxyAddress) CopyTruncated(shared.proxyAddress, sizeof shared.proxyAddress, address);
    if (port != shared.proxyPort) CopyTruncated(shared.proxyPort, sizeof shared.proxyPort, port);
    FormatBareProxyText(proxy, sizeof proxy, shared.proxyAddress, shared.proxyPort);
    shared.proxyUser[0] = shared.proxyPassword[0] = 0;
}

void Worker::DecideOwnLogin(ProxyOrigin origin, const PacEntry& entry) {
    char intranet[2048] = "";
    if (origin == ProxyDiscovered && !entry.direct) IntranetNames(intranet, sizeof intranet);
    bool allowed = entry.direct || MayOfferOwnLogin(origin, entry.address, intranet);
    client.set_own_login_allowed(allowed);
    ownLoginAllowed = allowed;
    if (!allowed)
        LogEvent("part list: the proxy %s was found by automatic detection and is no intranet host: the "
                 "logged-on user's Windows login is not offered to it",
                 entry.address);
}

bool Worker::TryScriptProxies(const char* listPath, Outcome* outcome) {
    // A proxy auto-configuration script decides first; its entries are
    // tried in order, "DIRECT" among them meaning no proxy.
    PacEntry entries[8];
    int count = 0;
    PacSource source = PacFromNone;
    char lookupUrl[1400];
    if (PacLookupUrl(state->site, remotePath, kPartList, lookupUrl, sizeof lookupUrl))
        count = DiscoverScriptProxies(state->proxyScript, lookupUrl, state->scriptTimeoutMs, &state->stopRequested,
                                      entries, 8, &source);
    const char* from = source == PacFromBrowser     ? "the browser's script"
                       : source == PacFromDetection ? "automatic detection"
                       : state->proxyScript[0]      ? state->proxyScript
                                                    : "the browser's script or automatic detection";
    LogEvent("part list: proxy auto-configuration (%s): %d entr%s to try", from, count, count == 1 ? "y" : "ies");
    ProxyOrigin origin = source == PacFromDetection ? ProxyDiscovered : ProxyConfigured;
    for (int i = 0; i < count; ++i) {
        if (StopNow()) {
            *outcome = Stopped;
            return true;
        }
        UseFoundProxy(entries[i].address, entries[i].port);
        DecideOwnLogin(origin, entries[i]);
        bool reached = TryPartList(listPath, "the auto-configuration script's entry");
        if (reached) {
            // Recorded with its site: the site credentials that got through
            // go to this site only. The parts go through the same proxy,
            // the decision on the user's own login with them.
            ConfirmSettings(state->site);
            *outcome = Done;
            return true;
        }
        client.set_own_login_allowed(true);
        ownLoginAllowed = true;
        if (client.own_login_withheld() && !withheldAddress[0]) {
            CopyTruncated(withheldAddress, sizeof withheldAddress, entries[i].address);
            CopyTruncated(withheldPort, sizeof withheldPort, entries[i].port);
            LogEvent("part list: %s", state->unattended ? "an unattended run cannot ask for a proxy user for it"
                                                        : "the user is asked about it in the settings dialog");
        }
    }
    return count > 0;
}

Worker::Outcome Worker::ReachPartList() {
    char listPath[300];
    LocalPath(listPath, sizeof listPath, kPartList);
    CopyHttpSettings(&configured, &state->settings);
    const HttpSettings& own = configured;
    HttpSettings& shared = SharedHttpSettings;
    // A proxy the command line gave comes before everything else.
    const ProxyAttempt first = RunProxy.kind == RunProxyDirect || RunProxy.kind == RunProxyNamed ? RunGiven
                                                                                                : Configured;
    ProxyAttempt attempt = first;
    int failures = 0;
    for (;;) {
        // A transport that was stopped or destroyed asks nobody anything.
        if (StopNow()) return Stopped;
        switch (attempt) {
        case RunGiven:
            // The site's login as configured; the proxy without credentials.
            CopySettings(&own);
            FormatSiteUrl(url, sizeof url, own.siteUser, own.sitePassword, state->site, remotePath, kPartList);
            if (RunProxy.kind == RunProxyNamed) {
                UseFoundProxy(RunProxy.host, RunProxy.port);
            } else {
                UseFoundProxy("", "");
                proxy[0] = 0;
            }
            break;
        case Configured:
            CopySettings(&own);
            FormatSiteUrl(url, sizeof url, own.siteUser, own.sitePassword, state->site, remotePath, kPartList);
            FormatProxyText(proxy, sizeof proxy, own.proxyUser, own.proxyPassword, own.proxyAddress, own.proxyPort);
            break;
        case Browser: {
            Outcome outcome = Failed;
            if (TryScriptProxies(listPath, &outcome)) {
                if (outcome != Failed) return outcome;
                attempt = NextProxyAttempt(attempt);
                continue;
            }
            if (!FindBrowserProxy(shared.proxyAddress, sizeof shared.proxyAddress, shared.proxyPort,
                                  sizeof shared.proxyPort)) {
                LogEvent("part list: no browser proxy found");
                attempt = Direct;
                continue;
            }
            UseFoundProxy(shared.proxyAddress, shared.proxyPort);
            break;
        }
        case Direct:
            proxy[0] = 0;
            CopySettings(nullptr);
            // The parts carry the credentials that reached the part list.
            CopyTruncated(shared.siteUser, sizeof shared.siteUser, own.siteUser);
            CopyTruncated(shared.sitePassword, sizeof shared.sitePassword, own.sitePassword);
            break;
        case AskUser: {
            if (state->unattended) {
                // Nobody is there to answer: the attempts start over after
                // a growing pause, until the tries are spent.
                LogEvent("part list: an unattended run asks nothing; the attempts start over");
                Pause(PartRetryDelayMs(failures));
                WaitWhilePaused();
                attempt = first;
                continue;
            }
            // Every time the transport's own settings, not the last answer;
            // where they name no proxy, a discovered one whose login the
            // user has to decide on.
            CopySettings(&own);
            if (!shared.proxyAddress[0] && withheldAddress[0]) {
                CopyTruncated(shared.proxyAddress, sizeof shared.proxyAddress, withheldAddress);
                CopyTruncated(shared.proxyPort, sizeof shared.proxyPort, withheldPort);
            }
            HttpSettingsDialog dialog(shared.proxyAddress, shared.proxyPort, shared.proxyUser,
                                      shared.proxyPassword, state->site, remotePath, shared.siteUser,
                                      shared.sitePassword);
            // Settings cannot mend a certificate, but the user learns why
            // the site could not be reached.
            if (certificateFailure) {
                char format[300];
                LoadStringA(GetModuleInstance(), CertificateMessageId(certificateFailure), format, sizeof format);
                FormatFileStatus(format, certificateHost, "", dialog.notice, sizeof dialog.notice);
            }
            // Which login the proxy asked for, when one did.
            dialog.proxySchemes = client.proxy_schemes_asked();
            dialog.openWindow = &state->settingsDialog;
            dialog.cancelled = &state->abandoned;
            INT_PTR answer = dialog.ShowModal(nullptr);
            state->settingsDialog = nullptr;
            // A dialog that cannot be shown counts as Cancel; it would
            // otherwise be tried again for ever.
            if (answer == 1009 || answer == -1) {
                LogEvent("part list: the HTTP settings dialog was cancelled (%d)", static_cast<int>(answer));
                return Failed;
            }
            CopyTruncated(shared.proxyAddress, sizeof shared.proxyAddress, dialog.proxyAddress);
            CopyTruncated(shared.proxyPort, sizeof shared.proxyPort, dialog.proxyPort);
            CopyTruncated(shared.proxyUser, sizeof shared.proxyUser, dialog.proxyUser);
            CopyTruncated(shared.proxyPassword, sizeof shared.proxyPassword, dialog.proxyPassword);
            CopyTruncated(shared.siteUser, sizeof shared.siteUser, dialog.siteUser);
            CopyTruncated(shared.sitePassword, sizeof shared.sitePassword, dialog.sitePassword);
            AddLogSecret(shared.proxyPassword);
            AddLogSecret(shared.sitePassword);
            FormatSiteUrl(url, sizeof url, shared.siteUser, shared.sitePassword, state->site, remotePath,
                          kPartList);
            FormatProxyText(proxy, sizeof proxy, shared.proxyUser, shared.proxyPassword, shared.proxyAddress,
                            shared.proxyPort);
            break;
        }
        }
        if (TryPartList(listPath, AttemptName(attempt))) {
            ConfirmSettings(state->site);
            return Done;
        }
        CertificateFailed();
        // A part list that cannot be had is given up like a part.
        if (++failures >= state->tries) {
            LogEvent("part list %s%s: given up after %d tries%s%s", remotePath, kPartList, failures,
                     pinRefused ? ": it " : "", pinRefused ? kPinMismatch : "");
            return Failed;
        }
        // The arrangement reached the site; another one would bring the
        // same list. The same one is tried again after a pause.
        if (pinRefused) {
            Pause(PartRetryDelayMs(failures));
            WaitWhilePaused();
            continue;
        }
        attempt = NextProxyAttempt(attempt);
    }
}

// Reads a part file into `buffer` when it holds exactly `size` bytes.
bool ReadWholePart(const char* path, char* buffer, int size) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    // One read of the whole part; a stream buffer would only copy it.
    std::setvbuf(f, nullptr, _IONBF, 0);
    char extra;
    bool whole = std::fread(buffer, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size) &&
                 std::fread(&extra, 1, 1, f) == 0;
    std::fclose(f);
    return whole;
}

bool WriteWholePart(const char* path, const char* bytes, int size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::setvbuf(f, nullptr, _IONBF, 0);
    bool written = std::fwrite(bytes, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
    return std::fclose(f) == 0 && written;
}

uint32_t Sum32(const char* bytes, int size) {
    IAD_MD5 digest;
    digest.init();
    digest.update(bytes, static_cast<unsigned>(size));
    return digest.sum32();
}

// How a part's bytes in memory compare with the list. Where the list gives
// the strong sum, that decides alone: bytes that match it match the weak
// one the publisher wrote beside it, and the weak one is taken only to say
// how a part differs.
PartFileCheck CheckPartBytes(const char* bytes, int size, uint32_t sum, const LineFile& list, const char* name) {
    StrongSumCheck strong = CheckStrongSumOf(list, name, bytes, static_cast<size_t>(size));
    if (strong == StrongSumMatches) return PartFileMatches;
    if (Sum32(bytes, size) != sum) return PartFileWrongSum;
    return strong == StrongSumDiffers ? PartFileWrongStrongSum : PartFileMatches;
}

// Brings the slot's part in: from its file when that is there with the
// right sums, else from the site over the slot's connection, into the
// slot's buffer or, where parts are too large to wait in memory, into a
// file of its own that takes the part's name once checked.
Worker::Outcome Worker::FetchPart(PartSlot& slot) {
    const char* name = slot.name;
    const int size = slot.size;
    char* buffer = slot.buffer;
    IAD_HTTPClient& http = *slot.client;
    char partPath[300];
    LocalPath(partPath, sizeof partPath, name);
    char newPath[310];
    std::snprintf(newPath, sizeof newPath, "%s.new", partPath);
    // A streamed part's file is read through this block.
    char* block = buffer ? nullptr : static_cast<char*>(std::malloc(kPartFileBlock));
    if (!buffer && !block) return Failed;
    struct BlockRelease {
        char* block;
        ~BlockRelease() { std::free(block); }
    } release{block};
    slot.present = slot.fetched = false;
    // A part handed back after the part list was fetched again had its
    // pause already.
    bool paused = slot.listFetched;
    slot.listFetched = false;
    bool listAgain = false;
    for (int& failures = slot.failures;; ++failures) {
        if (failures > 0 && !paused) {
            // A part that keeps failing (a missing or damaged part on the
            // server) is given up: nobody may be there to stop the run.
            if (failures >= state->tries) {
                LogEvent("part %s: given up after %d tries", name, failures);
                return Failed;
            }
            // A growing pause, during which a pause or stop request is
            // still heard.
            ++slot.retries;
            Pause(PartRetryDelayMs(failures), slot.wake);
        }
        paused = false;
        WaitWhilePaused(slot.wake);
        if (SlotStopNow()) return Stopped;
        // The worker fetches the list once no other part is in flight, and
        // hands the part back.
        if (listAgain) return ListDoubted;
        int expected = 0;
        if (list.GetValue("sums", name, &expected) != 0) {
            LogEvent("part %s: no sum in the part list", name);
            return Failed;
        }
        if (!PartSizeFits(size, bufferSize)) {
            LogEvent("part %s: %d bytes do not fit the part buffer", name, size);
            return Failed;
        }
        uint32_t sum = static_cast<uint32_t>(expected);
        // A part on the disk was checked when it came, but the disk is not
        // ours alone: it is checked again, strongly where the list can (and
        // a streamed one once more as it is joined).
        long long length = 0;
        if (buffer ? ReadWholePart(partPath, buffer, size) &&
                         CheckPartBytes(buffer, size, sum, list, name) == PartFileMatches
                   : CheckPartFile(partPath, size, sum, list, name, block, &length) == PartFileMatches) {
            // Written whole by a try that failed afterwards, it counts as
            // fetched.
            slot.present = failures == 0;
            return Done;
        }
        HttpSettings& shared = SharedHttpSettings;
        FormatSiteUrl(slot.url, sizeof slot.url, shared.siteUser, shared.sitePassword, state->site, remotePath,
                      name);
        // Received into the whole buffer (or a file as long as the largest
        // part), so that a body longer than the list says comes whole and
        // tells of the list rather than failing as too long.
        http.set_file_limit(bufferSize);
        int received = 0;
        bool came = http.set_urls(slot.url, proxy) == 0 &&
                    (buffer ? http.GetBuffer(nullptr, buffer, bufferSize, &received) : http.GetFile(nullptr, newPath)) == 0;
        if (!came) {
            if (!buffer) DeleteFileA(newPath);
            LogEvent("part %s: try %d failed (%s)", name, failures + 1, http.last_failure());
            // Trying again cannot change a certificate.
            int refused = CertificateRefused(http, slot.certificateHost, sizeof slot.certificateHost);
            if (refused) {
                slot.certificateFailure = refused;
                return Failed;
            }
            listAgain = slot.doubt.TryFailed(false);
            continue;
        }
        // A connection that ends early looks like a complete body to the
        // client, and a damaged part like a good one: the part's size and
        // sum tell, and either being wrong is a failed try. Other bytes with
        // the same 32-bit sum are cheap to make; the strong sum is what
        // tells a forged part.
        PartFileCheck check = PartFileMatches;
        if (buffer) {
            length = received;
            check = received != size ? PartFileWrongSize : CheckPartBytes(buffer, size, sum, list, name);
        } else {
            check = CheckPartFile(newPath, size, sum, list, name, block, &length);
        }
        if (check != PartFileMatches) {
            if (!buffer) DeleteFileA(newPath);
            if (check == PartFileWrongSize)
                LogEvent("part %s: try %d failed (%lld of %d bytes)", name, failures + 1, length, size);
            else if (check == PartFileUnreadable)
                LogEvent("part %s: try %d failed (it cannot be read back)", name, failures + 1);
            else
                LogEvent("part %s: try %d failed (the %s does not match the part list)", name, failures + 1,
                         check == PartFileWrongSum ? "sum" : "SHA-256");
            listAgain = slot.doubt.TryFailed(check != PartFileUnreadable);
            continue;
        }
        // Only a checked part reaches its name on the disk, where a later
        // run finds it.
        if (buffer ? !WriteWholePart(partPath, buffer, size)
                   : !MoveFileExA(newPath, partPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            if (!buffer) DeleteFileA(newPath);
            LogEvent("part %s: try %d failed (it cannot be written to the disk)", name, failures + 1);
            listAgain = slot.doubt.TryFailed(false);
            continue;
        }
        slot.fetched = true;
        // Where each part came from, when a component has several sites;
        // without any user information the site text may carry.
        char shown[1400];
        if (!PacLookupUrl(state->site, remotePath, name, shown, sizeof shown)) CopyTruncated(shown, sizeof shown, "?");
        LogEvent("part %s: fetched from %s", name, shown);
        return Done;
    }
}

// Whether two files hold the same bytes (false when either cannot be read).
bool SameFileBytes(const char* pathA, const char* pathB) {
    FILE* a = std::fopen(pathA, "rb");
    FILE* b = a ? std::fopen(pathB, "rb") : nullptr;
    bool same = a && b;
    char blockA[4096], blockB[4096];
    while (same) {
        size_t n = std::fread(blockA, 1, sizeof blockA, a);
        size_t m = std::fread(blockB, 1, sizeof blockB, b);
        same = n == m && std::memcmp(blockA, blockB, n) == 0;
        if (n == 0) break;
    }
    if (a) std::fclose(a);
    if (b) std::fclose(b);
    return same;
}

Worker::Outcome Worker::FetchPartListAgain(const char* partName) {
    LogEvent("part %s: its bytes came whole and disagreed with the part list %d times in a row; the part list is fetched again",
             partName, kSumFailuresBeforeListAgain);
    char listPath[300];
    char freshPath[300];
    LocalPath(listPath, sizeof listPath, kPartList);
    LocalPath(freshPath, sizeof freshPath, "pkginfo.new");
    // Through the proxy that reached the list, into a file of its own: the
    // list in use stays whole whatever comes.
    HttpSettings& shared = SharedHttpSettings;
    FormatSiteUrl(url, sizeof url, shared.siteUser, shared.sitePassword, state->site, remotePath, kPartList);
    bool reached = TryPartList(freshPath, "the settings that reached it before");
    if (reached && !SameFileBytes(listPath, freshPath) &&
        MoveFileExA(freshPath, listPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        LogEvent("part list of %s: it changed on the server; the parts start over with it", remotePath);
        return ListChanged;
    }
    DeleteFileA(freshPath);
    if (reached) LogEvent("part list of %s: unchanged", remotePath);
    // TryPartList read what came; the list in use is read back.
    return list.Load(listPath) == 0 ? Done : Failed;
}

Worker::Outcome Worker::FetchParts() {
    // A part list that changed on the server starts the parts over: the
    // file is written anew from its start with the new list, the parts
    // already on the disk taken again where their sums still agree.
    for (;;) {
        Outcome outcome = JoinParts();
        if (outcome != ListChanged) return outcome;
        // Parts kept on the disk before count again as they are found.
        partsPresent = 0;
        joiner.Stop();
        FreeBuffers();
        if (output) std::fclose(output);
        output = std::fopen(localFile, "wb");
        if (!output) return Failed;
        std::setvbuf(output, nullptr, _IONBF, 0);
    }
}

DWORD WINAPI Worker::SlotThread(LPVOID self) {
    PartSlot* slot = static_cast<PartSlot*>(self);
    for (;;) {
        WaitForSingleObject(slot->go, INFINITE);
        if (slot->quit) return 0;
        slot->outcome = slot->worker->FetchPart(*slot);
        SetEvent(slot->done);
    }
}

void Worker::Dispatch(PartSlot& slot) {
    slot.busy = true;
    if (slot.thread) {
        SetEvent(slot.go);
        return;
    }
    slot.outcome = FetchPart(slot);
    SetEvent(slot.done);
}

bool Worker::MakeSlot(PartSlot& slot, int index) {
    slot.worker = this;
    slot.state = state;
    slot.abort = &abortParts;
    if (index == 0) {
        slot.client = &client;
    } else {
        // Each further connection logs on to a proxy for itself.
        slot.ownLogin = new (std::nothrow) SspiProxyLogin;
        slot.ownClient = slot.ownLogin ? new (std::nothrow) IAD_HTTPClient(0, state->timeouts) : nullptr;
        if (!slot.ownClient) return false;
        slot.basic = basicProxies;
        slot.ownClient->set_proxy_login(slot.ownLogin);
        slot.ownClient->set_basic_memory(&slot.basic);
        slot.ownClient->set_own_login_allowed(ownLoginAllowed);
        slot.client = slot.ownClient;
    }
    slot.go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    slot.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slot.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!slot.go || !slot.done || !slot.wake) return false;
    slot.client->set_cancel(SlotTransferUnwanted, &slot);
    slot.thread = CreateThread(nullptr, 0, SlotThread, &slot, 0, nullptr);
    // The first slot can work on the worker's thread; others cannot.
    return slot.thread || index == 0;
}

int Worker::StartSlots(int count) {
    abortParts = false;
    slots = new (std::nothrow) PartSlot[count];
    if (!slots) return 0;
    slotCount = count;
    int made = 0;
    while (made < count && MakeSlot(slots[made], made)) ++made;
    // Fewer connections where not all could be made; none fails the fetch.
    for (int i = made; i < count; ++i) EndSlot(slots[i]);
    slotCount = made;
    if (made == 0) EndSlots();
    return made;
}

void Worker::EndSlot(PartSlot& slot) {
    if (slot.busy && slot.done) WaitForSingleObject(slot.done, INFINITE);
    slot.busy = false;
    if (slot.thread) {
        slot.quit = true;
        SetEvent(slot.go);
        WaitForSingleObject(slot.thread, INFINITE);
        CloseHandle(slot.thread);
        slot.thread = nullptr;
    }
    for (HANDLE* event : {&slot.go, &slot.done, &slot.wake}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    if (slot.ownClient) slotConnections += slot.ownClient->connections_made();
    delete slot.ownClient;
    delete slot.ownLogin;
    slot.ownClient = nullptr;
    slot.ownLogin = nullptr;
}

void Worker::EndSlots() {
    for (int i = 0; i < slotCount; ++i) EndSlot(slots[i]);
    delete[] slots;
    slots = nullptr;
    slotCount = 0;
    client.set_cancel(TransferUnwanted, state);
}

Worker::Outcome Worker::JoinParts() {
    char listPath[300];
    LocalPath(listPath, sizeof listPath, kPartList);
    if (list.Load(listPath) != 0) return Failed;
    PartPlan plan;
    ReadPartPlan(list, &plan);
    bufferSize = plan.bufferSize;
    ReportCount(msgDl2, plan.total);
    PartSlots planned = PlanPartSlots(state->connections, bufferSize, plan.count, state->partMemory);
    // Streamed parts wait in their files: their "buffers" hold no memory.
    const bool streamed = planned.streamed;
    int bufferCount = streamed ? planned.buffers : 0;
    while (bufferCount < planned.buffers &&
           (buffers[bufferCount] = static_cast<char*>(std::malloc(bufferSize > 0 ? bufferSize : 1))) != nullptr)
        ++bufferCount;
    // Fewer connections where memory is short; one at least, or the fetch
    // fails.
    if (bufferCount == 0) return Failed;
    if (!streamed && planned.connections >= bufferCount) planned.connections = bufferCount > 1 ? bufferCount - 1 : 1;
    const int connections = StartSlots(planned.connections);
    if (connections == 0) return Failed;
    LogEvent("%s: %d parts, up to %d at once%s", remotePath, plan.count, connections,
             streamed ? ", each through its file" : "");
    joiner.Start(output, plan.strongSums != 0);

    // Which part each buffer holds (-1: free) and whether it came in.
    int holds[kMostBuffers];
    bool in[kMostBuffers];
    for (int b = 0; b < bufferCount; ++b) holds[b] = -1, in[b] = false;
    int joining = -1;  // the buffer the joiner has
    int nextPart = 0;  // handed out in order, so the next to join is always in hand or in
    int nextJoin = 0;
    long long completed = 0;
    Outcome outcome = Done;
    auto freeJoined = [&]() {
        if (joining < 0) return true;
        bool joined = joiner.Wait();
        holds[joining] = -1;
        joining = -1;
        return joined;
    };
    for (;;) {
        // The parts that came in.
        bool busy = false;
        bool listWanted = false;
        for (int i = 0; i < connections; ++i) {
            PartSlot& slot = slots[i];
            if (slot.busy && WaitForSingleObject(slot.done, 0) == WAIT_OBJECT_0) {
                ResetEvent(slot.done);
                slot.busy = false;
                retries += slot.retries;
                slot.retries = 0;
                switch (slot.outcome) {
                case Done:
                    in[slot.entry] = true;
                    completed += slot.size;
                    if (slot.present) ++partsPresent;
                    else ++partsFetched;
                    // Progress as parts complete, in whatever order.
                    if (slot.fetched) ReportCount(msgDl3, completed);
                    break;
                case ListDoubted:
                    slot.awaitsList = true;
                    break;
                case Stopped:
                    holds[slot.entry] = -1;
                    if (outcome == Done) outcome = Stopped;
                    break;
                default:
                    holds[slot.entry] = -1;
                    outcome = Failed;
                    if (slot.certificateFailure) {
                        certificateFailure = slot.certificateFailure;
                        CopyTruncated(certificateHost, sizeof certificateHost, slot.certificateHost);
                    }
                    break;
                }
            }
            busy = busy || slot.busy;
            listWanted = listWanted || slot.awaitsList;
        }
        // A stop made during a pause waits with the parts: clearing the
        // pause drops it.
        if (outcome == Done && TransferUnwanted(state)) outcome = Stopped;
        if (outcome != Done) {
            // A failed part ends the others at once, a part in its pause
            // too; a stop ends them itself. Parts already checked stay on
            // the disk.
            if (!abortParts) {
                abortParts = true;
                for (int i = 0; i < connections; ++i) SetEvent(slots[i].wake);
            }
            if (!busy) break;
        } else {
            // Joined in order, each from the buffer it came into.
            for (int b = 0; b < bufferCount && nextJoin < plan.count;) {
                if (holds[b] != nextJoin || !in[b]) {
                    ++b;
                    continue;
                }
                if (!freeJoined()) {
                    outcome = Failed;
                    break;
                }
                int size = 0;
                char name[32];
                PartName(nextJoin, name, sizeof name);
                list.GetValue("files", name, &size);
                if (streamed) {
                    char path[300];
                    LocalPath(path, sizeof path, name);
                    int sum = 0;
                    list.GetValue("sums", name, &sum);
                    unsigned char strongSum[kSha256Size];
                    bool strong = list.GetSha256(name, strongSum) == 0;
                    joiner.JoinFile(path, size, static_cast<uint32_t>(sum), strong ? strongSum : nullptr);
                } else {
                    joiner.Join(buffers[b], size);
                }
                joining = b;
                ++nextJoin;
                b = 0;
            }
            if (outcome != Done) continue;
            if (nextJoin == plan.count) break;
            if (listWanted) {
                // The list is loaded anew only while no part is in flight.
                if (!busy) {
                    PartSlot* first = nullptr;
                    for (int i = 0; i < connections; ++i)
                        if (slots[i].awaitsList && !first) first = &slots[i];
                    Outcome again = FetchPartListAgain(first->name);
                    for (int i = 0; i < connections; ++i) {
                        PartSlot& slot = slots[i];
                        slot.doubt.ListFetched();
                        if (!slot.awaitsList) continue;
                        slot.awaitsList = false;
                        if (again != Done) {
                            holds[slot.entry] = -1;
                            continue;
                        }
                        slot.listFetched = true;
                        Dispatch(slot);
                    }
                    if (again != Done) {
                        outcome = again;
                        break;
                    }
                    continue;
                }
            } else {
                // Further parts to the connections that are free, as long
                // as buffers are.
                for (int i = 0; i < connections && nextPart < plan.count; ++i) {
                    PartSlot& slot = slots[i];
                    if (slot.busy) continue;
                    int b = 0;
                    while (b < bufferCount && holds[b] >= 0) ++b;
                    if (b == bufferCount && joining >= 0) {
                        b = joining;
                        if (!freeJoined()) {
                            outcome = Failed;
                            break;
                        }
                    }
                    if (b == bufferCount) break;
                    holds[b] = nextPart;
                    in[b] = false;
                    slot.entry = b;
                    slot.buffer = buffers[b];
                    PartName(nextPart, slot.name, sizeof slot.name);
                    slot.size = 0;
                    list.GetValue("files", slot.name, &slot.size);
                    slot.failures = 0;
                    slot.listFetched = false;
                    slot.doubt.NextPart();
                    ++nextPart;
                    Dispatch(slot);
                }
                if (outcome != Done) continue;
            }
        }
        // Until a part comes in, or a request changes: that is passed on to
        // every slot waiting in a pause.
        HANDLE waits[1 + kMostConnections];
        DWORD count = 0;
        waits[count++] = state->wake;
        for (int i = 0; i < connections; ++i)
            if (slots[i].busy) waits[count++] = slots[i].done;
        if (WaitForMultipleObjects(count, waits, FALSE, 1000) == WAIT_OBJECT_0)
            for (int i = 0; i < connections; ++i) SetEvent(slots[i].wake);
    }
    if (outcome == Done && !freeJoined()) outcome = Failed;
    EndSlots();
    if (outcome != Done) return outcome;
    joiner.Stop();
    FreeBuffers();
    int closed = std::fclose(output);
    output = nullptr;
    if (closed != 0) return Failed;
    int expected = 0;
    if (list.GetValue("sums", "total_sum", &expected) != 0) {
        LogEvent("part list of %s: no total_sum", remotePath);
        return Failed;
    }
    // The sum is final once taken: taken once.
    uint32_t total = joiner.Sum32();
    if (total != static_cast<uint32_t>(expected)) {
        LogEvent("%s: the joined parts do not match total_sum (%u, listed %u)", remotePath, total,
                 static_cast<uint32_t>(expected));
        return Failed;
    }
    if (plan.strongSums) {
        unsigned char whole[kSha256Size];
        joiner.Sha256Final(whole);
        if (CheckStrongSum(list, kSha256TotalKey, whole) != StrongSumMatches) {
            LogEvent("%s: the joined parts do not match the SHA-256 total of the part list", remotePath);
            return Failed;
        }
    }
    return Done;
}

int Worker::Run() {
    output = std::fopen(localFile, "wb");
    // Whole parts are written at once; a stream buffer would only copy them.
    if (output) std::setvbuf(output, nullptr, _IONBF, 0);
    Outcome outcome = output ? ReachPartList() : Failed;
    if (outcome == Done) outcome = FetchParts();
    joiner.Stop();
    FreeBuffers();
    if (output) {
        std::fclose(output);
        output = nullptr;
    }
    LogEvent("%s: %s; parts: %d fetched, %d present, %d retries; %d connections", remotePath,
             outcome == Done ? "complete" : outcome == Stopped ? "stopped" : "failed", partsFetched, partsPresent,
             retries, client.connections_made() + slotConnections);
    switch (outcome) {
    case Done:
        Report(msgDl4, 0, 0);
        return 0;
    case Stopped:
        return 0;
    default:
        if (pinRefused)
            Report(msgDl4, kFetchFingerprintMismatch, 0);
        else if (certificateFailure)
            Report(msgDl4, kFetchCertificateFailed, certificateFailure);
        else
            Report(msgDl4, 4, 0);
        return -1;
    }
}
}  // namespace

DWORD WINAPI FetchWorker(LPVOID argument) {
    FetchWorkerStart* start = static_cast<FetchWorkerStart*>(argument);
    HttpTransferState* state = start->state;
    // Workers of the process run one after another; the wait is on this
    // thread, so the dialog stays responsive meanwhile.
    if (start->previous) {
        if (WaitForSingleObject(start->previous, 0) == WAIT_TIMEOUT) {
            state->waitingForEarlier = 1;
            WaitForSingleObject(start->previous, INFINITE);
            state->waitingForEarlier = 0;
        }
        CloseHandle(start->previous);
    }
    delete start;
    // The worker keeps Windows Sockets started for itself, so that it stays
    // usable even when the session that started the worker has ended.
    bool sockets = StartSockets() == 0;
    int result;
    {
        Worker worker(state);
        result = worker.Run();
    }
    if (sockets) WSACleanup();
    ReleaseTransferState(state);
    return static_cast<DWORD>(result);
}
