// The fetch worker: reaches a component's part list through the first proxy
// arrangement that works, then fetches the parts that are not already
// present with the right sums, several at once over connections of their
// own, checks each against its sums as it arrives (the 32-bit one, and the
// SHA-256 where the list gives strong sums), joins them in order into the
// local file and checks the whole file's sums. A part that keeps failing is
// given up after a bounded number of tries. It reports with "dl2", "dl3" and
// "dl4" and heeds the pause and stop requests between parts. It reads and
// writes only its shared state block, never the transport object itself.
// This half reaches the part list and runs the worker; the parts are
// fetched and joined in fetch_parts_win.cpp.
#include "download/fetch_worker_internal_win.h"

namespace fetch_worker {
const char kPinMismatch[] = "does not match the fingerprint in the setup";

// The proxies that asked for Basic during this run: every later fetch sends
// them the credentials with its first request. Workers of the process run
// one after another, so one record serves them all without a lock (the
// further connections of a fetch take copies).
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
}  // namespace fetch_worker

using fetch_worker::Worker;

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
