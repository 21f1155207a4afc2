// The download dialog: loads the setup description, lists the components,
// fetches every missing file one at a time through the FTP or the HTTP
// transport, and reacts to the transports' reports until the fetch phase is
// over ("dldone"), which hands over to the completion step.
#include "download/download_dialog_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"
#include "base/process_win.h"
#include "base/resume_shortcut_win.h"
#include "base/run_message_win.h"
#include "base/text_copy.h"
#include "base/run_log.h"
#include "download/fetch_rules.h"
#include "download/report_bytes.h"
#include "download/shared_http_settings.h"
#include "install/state_file_win.h"
#include "resources/resource.h"
#include "setup/catalogue_win.h"
#include "setup/download_folder_win.h"
#include "setup/package_win.h"
#include "setup/profile_win.h"
#include "setup/setup_keys.h"

namespace {
const int kListId = IDC_COMPONENT_LIST;
const int kProgressId = IDC_PROGRESS;
const int kStatusId = IDC_STATUS;
const int kQuitId = IDC_QUIT;
const int kSuspendId = IDC_SUSPEND;
const UINT_PTR kProgressTimerId = 1;
// Fetches of a file the transport cannot check itself (FTP), refused by its
// pin, before the component is given up.
const int kPinnedFileTries = 3;


void OnSetupDescription(const char* infPath, void* context) {
    static_cast<DownloadDialog*>(context)->ReadSetupDescription(infPath);
}

// When the file being fetched was asked for: the log gives each file's time.
DWORD fetchStartTick = 0;

long long FileSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

const char* ProtocolText(int protocol) {
    static const char* const names[] = {"ftp", "copy", "cdrom", "selfext", "http"};
    return protocol >= 0 && protocol <= 4 ? names[protocol] : "?";
}
}  // namespace

DownloadDialog::DownloadDialog(const char* downloadFolder, int showIntro, int resuming,
                               const char* setupPath, int saveProxySettings)
    : DialogBase(IDD_DOWNLOAD),
      downloadFolder(downloadFolder),
      listControl(nullptr),
      statusControl(nullptr),
      componentCount(0),
      setupPath(setupPath),
      currentIndex(-1),
      currentComponent(nullptr),
      fileCursor(nullptr),
      fileNumber(0),
      filePinned(PinNone),
      pinFailures(0),
      siteNumber(1),
      connectPending(0),
      totalBytes(0),
      usesNetwork(0),
      allowIntervention(1),
      showIntro(showIntro),
      resuming(resuming),
      saveProxySettings(saveProxySettings),
      installKept(0),
      userQuit(0),
      handedOver(0),
      ftpTransport(&ftpDownloader),
      httpTransport(&httpDownloader),
      connectedTransport(nullptr),
      windowShown(0),
      fetchOver(0),
      completing(0),
      endedWith(0),
      progressBytes(0),
      progressPending(0),
      progressPaintedAt(0),
      progressTimer(0) {
    fileList[0] = currentFile[0] = remoteDir[0] = '\0';
    siteName[0] = proxyName[0] = proxyPort[0] = connectedSite[0] = '\0';
    httpDownloader.SetConnections(kDefaultConnections);
}

DownloadDialog::~DownloadDialog() {}

INT_PTR DownloadDialog::RunQuestion(WORD templateId) {
    CenteredDialog question(templateId);
    // The introduction comes before the dialog is shown; the later
    // questions belong to it.
    return question.ShowModal(templateId == IDD_INTRO ? nullptr : hwnd);
}

int DownloadDialog::ShowRunMessage(UINT textId, UINT type) {
    char caption[100];
    char text[512];
    LoadStringA(GetModuleInstance(), IDS_APP_NAME, caption, sizeof caption);
    LoadStringA(GetModuleInstance(), textId, text, sizeof text);
    return ShowRunMessageBox(hwnd, text, caption, type);
}

bool DownloadDialog::StopTransports(DWORD milliseconds) {
    ftpDownloader.Shutdown();
    return httpDownloader.Shutdown(milliseconds);
}

void DownloadDialog::InterruptHttp(int pause) { httpDownloader.Interrupt(pause); }

void DownloadDialog::ClearHttpInterrupt() { httpDownloader.ClearInterrupt(); }

void DownloadDialog::ReadSetupDescription(const char* infPath) {
    char value[256];
    char* cursor;
    char* name;
    ReadSetting(kDefsSection, SetupKeyName(KeyAllowIntervention), "TRUE", value, sizeof value, infPath);
    if (strcmp(value, "FALSE") == 0) allowIntervention = 0;
    // From here on nobody is asked anything, and no message waits.
    if (!allowIntervention) unattendedRun = 1;
    httpDownloader.SetUnattended(!allowIntervention);
    ReadSetting(kDefsSection, SetupKeyName(KeySaveProxySettings), "TRUE", value, sizeof value, infPath);
    if (strcmp(value, "TRUE") == 0) saveProxySettings = 1;
    // One script for every "http" component; a later description that
    // names none leaves an earlier one in place.
    ReadSetting(kDefsSection, SetupKeyName(KeyProxyAutoConfig), "", value, sizeof value, infPath);
    if (value[0]) httpDownloader.SetProxyScript(value);
    // Likewise the parts fetched at once.
    const int connections = ReadSettingInt(kDefsSection, SetupKeyName(KeyMaxConnections), 0, infPath);
    if (connections) httpDownloader.SetConnections(ConnectionsFromSetting(connections));
    ReadSetting(kDefsSection, SetupKeyName(KeyStrings), "", value, sizeof value, infPath);
    cursor = value;
    while ((name = NextToken(&cursor, ", ")) != nullptr) LoadSection(name, infPath);
    ReadSetting(kDefsSection, SetupKeyName(KeyComponents), "", value, sizeof value, infPath);
    LogEvent("setup description %s: components=%s; allowintervention %d, SaveProxySettings %d", infPath,
             value, allowIntervention, saveProxySettings);
    cursor = value;
    while ((name = NextToken(&cursor, ", ")) != nullptr) AddComponent(name, infPath);
}

INT_PTR DownloadDialog::OnInitDialog() {
    ftpTransport->CreateMessageWindow(hwnd);
    httpTransport->CreateMessageWindow(hwnd);
    listControl = GetDlgItem(hwnd, kListId);
    statusControl = GetDlgItem(hwnd, kStatusId);
    BindCatalogue(listControl, downloadFolder);
    InsertCatalogueColumns(listControl);

    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length >= sizeof program) length = 0;
    program[length] = '\0';

    if (setupPath) {
        ReadSetupDescription(setupPath);
    } else if (!ExtractPackage(program, downloadFolder, OnSetupDescription, this)) {
        LogEvent("package of %s cannot be written into %s", program, downloadFolder);
        char caption[100];
        char text[512];
        LoadStringA(GetModuleInstance(), IDS_SHORT_NAME, caption, sizeof caption);
        LoadStringA(GetModuleInstance(), IDS_EXTRACT_FAILED, text, sizeof text);
        // No owner: the dialog is still hidden and has not been shown.
        ShowRunMessageBox(nullptr, text, caption, MB_SETFOREGROUND | MB_ICONERROR);
        EndRun(ResultKeepFiles);
        return TRUE;
    }
    SortComponents();
    componentCount = GetComponentCount();
    if (!setupPath) {
        // A setup description is read as soon as it is written, before the
        // files that follow it in the package: look at its components again
        // now that every file is in place.
        for (int row = 0; row < componentCount; ++row) {
            Component* component = GetRowComponent(row);
            DecideInitialState(component);
            SetRowState(row, component->state);
        }
    }

    for (int row = 0; row < componentCount; ++row) {
        int protocol = GetProtocol(GetRowComponent(row));
        if (protocol != ProtocolFtp && protocol != ProtocolHttp) continue;
        usesNetwork = 1;
        // The elevated copy works in a folder of its own, removed after the
        // install: the program's copy and the shortcut that the run which
        // handed over made stay as they are.
        if (installKept) break;
        const char* baseName = strrchr(program, '\\');
        baseName = baseName ? baseName + 1 : program;
        char copy[MAX_PATH];
        JoinPath(downloadFolder, baseName, copy);
        // Fails harmlessly when the program already runs from that copy.
        CopyFileA(program, copy, FALSE);
        // A run of a named setup description must name it again when it
        // resumes; a shortcut that cannot would start a different run.
        char arguments[600 + sizeof carriedSwitches];
        CopyTruncated(arguments, static_cast<int>(sizeof arguments),
                      StartShortcutArguments(saveProxySettings));
        AppendTruncated(arguments, static_cast<int>(sizeof arguments), carriedSwitches);
        if (!setupPath || AppendSetupPathArgument(setupPath, arguments, sizeof arguments))
            SetResumeShortcut(1, copy, arguments);
        break;
    }

    int wasComplete = installKept;
    if (ReadStateInt("download", "complete", 0) == 1) {
        wasComplete = 1;
        LogEvent("state file: an earlier run fetched everything; going straight to the install");
        WriteStateText("download", "complete", "0");
    }

    if (usesNetwork && !wasComplete) {
        INT_PTR choice = 1;
        if (allowIntervention && showIntro) choice = RunQuestion(IDD_INTRO);
        if (choice != 1) {
            userQuit = 1;
            LogEvent("introduction: the user left it");
            EndRun(ResultFinished);
            return TRUE;
        }
        ShowRunWindow();
        if (!allowIntervention) {
            HWND quit = GetDlgItem(hwnd, kQuitId);
            EnableWindow(quit, FALSE);
            EnableWindow(GetDlgItem(hwnd, kSuspendId), FALSE);
            RECT dialogRect;
            RECT quitRect;
            GetWindowRect(hwnd, &dialogRect);
            GetWindowRect(quit, &quitRect);
            SetWindowPos(hwnd, nullptr, 0, 0, dialogRect.right - dialogRect.left,
                         quitRect.top - dialogRect.top, SWP_NOMOVE | SWP_NOZORDER);
        }
        if (resuming) SetWindowTextA(hwnd, "Resuming Download of Software...");
    }
    NextFile();
    return TRUE;
}

void DownloadDialog::ShowRunWindow() {
    windowShown = 1;
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
}

Downloader* DownloadDialog::CurrentTransport() {
    int protocol = GetProtocol(currentComponent);
    if (protocol == ProtocolFtp) return ftpTransport;
    if (protocol == ProtocolHttp) return httpTransport;
    return nullptr;
}

int DownloadDialog::NextComponent() {
    if (currentIndex >= 0) SetRowState(currentIndex, Downloaded);
    for (;;) {
        ++currentIndex;
        if (currentIndex >= componentCount) return 0;
        currentComponent = GetRowComponent(currentIndex);
        SetCurrentRow(currentIndex);
        if (currentComponent->state != NeedDownload) continue;
        LogEvent("component %s: fetching over %s", currentComponent->section,
                 ProtocolText(GetProtocol(currentComponent)));
        const char* section = currentComponent->section;
        const char* inf = currentComponent->infPath;
        ReadSetting(section, SetupKeyName(KeyFiles), "", fileList, sizeof fileList, inf);
        fileCursor = fileList;
        fileNumber = 0;
        // A file is written where its name says, inside the download
        // folder only: a name leading elsewhere fails the component.
        if (!AreFileNamesSafe(fileList)) {
            SetRowState(currentIndex, DownloadError);
            continue;
        }
        ReadSetting(section, SetupKeyName(KeySite), "", siteName, sizeof siteName, inf);
        siteNumber = 1;
        ReadSetting(section, SetupKeyName(KeyProxy), "", proxyName, sizeof proxyName, inf);
        ReadSetting(section, SetupKeyName(KeyPort), "", proxyPort, sizeof proxyPort, inf);
        if (!siteName[0]) {
            LogEvent("component %s: no site given: download error", currentComponent->section);
            SetRowState(currentIndex, DownloadError);
            continue;
        }
        ReadSetting(section, SetupKeyName(KeySourceDir), "", remoteDir, sizeof remoteDir, inf);
        SetRowState(currentIndex, Downloading);
        return 1;
    }
}

int DownloadDialog::NextFile() {
    if (fetchOver) return 0;
    char path[MAX_PATH];
    for (;;) {
        if (connectPending) {
            connectPending = 0;
        } else {
            char* name = nullptr;
            while (!currentComponent || !fileCursor ||
                   (name = NextToken(&fileCursor, ", ")) == nullptr) {
                if (!NextComponent()) {
                    PostDone(0);
                    return 0;
                }
            }
            CopyTruncated(currentFile, static_cast<int>(sizeof currentFile), name);
            ++fileNumber;
            pinFailures = 0;
        }
        GetSourcePath(currentComponent, currentFile, path, sizeof path);
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            LogEvent("file %s present already: not fetched", path);
            continue;
        }
        break;
    }

    Downloader* transport = CurrentTransport();
    if (transport) {
        if (transport != connectedTransport || !EqualNoCase(connectedSite, siteName)) {
            const char* section = currentComponent->section;
            const char* inf = currentComponent->infPath;
            char user[100], password[100], proxyUser[100], proxyPassword[100];
            // Each site has its own login: a further site's is never the
            // first one's.
            char userKey[40], passwordKey[40];
            if (siteNumber > 1) {
                NumberedKeyName(KeyMirrorUser, siteNumber, userKey, sizeof userKey);
                NumberedKeyName(KeyMirrorPassword, siteNumber, passwordKey, sizeof passwordKey);
            } else {
                CopyTruncated(userKey, sizeof userKey, SetupKeyName(KeyUser));
                CopyTruncated(passwordKey, sizeof passwordKey, SetupKeyName(KeyPassword));
            }
            ReadSetting(section, userKey, "", user, sizeof user, inf);
            ReadSetting(section, passwordKey, "", password, sizeof password, inf);
            ReadSetting(section, SetupKeyName(KeyProxyUser), "", proxyUser, sizeof proxyUser, inf);
            ReadSetting(section, SetupKeyName(KeyProxyPassword), "", proxyPassword, sizeof proxyPassword, inf);
            transport->SetCredentials(user, password);
            transport->SetProxyCredentials(proxyUser, proxyPassword);
            SetStatusFromString(IDS_CONNECTING, siteName, siteName);
            LogEvent("connecting to %s (user %s; proxy %s%s%s%s%s)", siteName, user[0] ? user : "anonymous",
                     proxyName[0] ? proxyName : "none", proxyPort[0] ? ":" : "", proxyPort,
                     proxyUser[0] ? ", proxy user " : "", proxyUser);
            connectPending = 1;
            transport->Open(siteName, proxyName, proxyPort);
            return 1;
        }
        SetStatusFromString(IDS_DOWNLOADING_FILE, currentFile, siteName);
        char remotePath[MAX_PATH + 80];
        BuildRemotePath(remoteDir, currentFile, transport == ftpTransport, remotePath,
                        sizeof remotePath);
        GetSourcePath(currentComponent, "tmp.tmp", path, sizeof path);
        fetchStartTick = GetTickCount();
        ReadFilePin(transport);
        transport->SetTries(
            TriesFromSetting(ReadSettingInt(currentComponent->section, SetupKeyName(KeyTries), 0,
                                            currentComponent->infPath)));
        LogEvent("fetching %s from %s (%s)%s", currentFile, siteName, remotePath,
                 filePinned == PinNone ? "" : ", pinned");
        if (transport->Fetch(remotePath, path)) return 1;
        LogEvent("fetch of %s cannot start", currentFile);
    }
    PostDone(1);
    return 0;
}

namespace {
// The pin of file `number` (from 1), named `fileName`, of a component; a
// malformed pin leaves `pin` zeroed, which nothing matches.
PinRead ReadComponentPin(const Component* component, int number, const char* fileName,
                         unsigned char pin[kSha256Size]) {
    const char* section = component->section;
    const char* inf = component->infPath;
    char numberedKey[40], numbered[200], plain[200];
    NumberedKeyName(KeyFileSha256Nth, number, numberedKey, sizeof numberedKey);
    ReadSetting(section, numberedKey, "", numbered, sizeof numbered, inf);
    ReadSetting(section, SetupKeyName(KeyFileSha256), "", plain, sizeof plain, inf);
    const PinRead read = ReadPin(numbered, plain, number, pin);
    if (read == PinMalformed) {
        // Nothing matches it: the file is refused rather than taken unchecked.
        LogEvent("component %s: the fingerprint pinned for %s is not 64 hexadecimal digits", section, fileName);
        std::memset(pin, 0, kSha256Size);
    }
    return read;
}
}  // namespace

void DownloadDialog::ReadFilePin(Downloader* transport) {
    filePinned = ReadComponentPin(currentComponent, fileNumber, currentFile, filePin);
    // Over HTTP the worker checks the part list against it; a malformed pin
    // is handed on as one that nothing matches.
    const bool http = transport == httpTransport;
    transport->SetFingerprint(http && filePinned != PinNone ? filePin : nullptr);
}

bool DownloadDialog::LocalFilesMatchPins(const Component* component) {
    char list[sizeof fileList];
    ReadSetting(component->section, SetupKeyName(KeyFiles), "", list, sizeof list, component->infPath);
    char folder[MAX_PATH];
    GetSourceDirectory(component, folder, sizeof folder);
    char* cursor = list;
    int number = 0;
    while (char* name = NextToken(&cursor, ", ")) {
        ++number;
        unsigned char pin[kSha256Size];
        const PinRead pinned = ReadComponentPin(component, number, name, pin);
        if (pinned == PinNone) continue;
        // A local file has no tries: it is what it is.
        char path[MAX_PATH];
        GetSourcePath(component, name, path, sizeof path);
        unsigned char digest[kSha256Size];
        if (pinned == PinGiven && Sha256OfFile(path, digest) == 0 && SameDigest(digest, pin)) {
            LogEvent("component %s: %s matches its pinned fingerprint", component->section, path);
            continue;
        }
        LogEvent("file %s of component %s: it does not match the fingerprint in the setup; nothing of it is "
                 "installed", path, component->section);
        char format[300], text[600], caption[100];
        LoadStringA(GetModuleInstance(), IDS_FINGERPRINT_MISMATCH, format, sizeof format);
        FormatFileStatus(format, name, folder, text, sizeof text);
        SetStatus(text);
        LoadStringA(GetModuleInstance(), IDS_APP_NAME, caption, sizeof caption);
        ShowRunMessageBox(hwnd, text, caption, MB_ICONERROR | MB_SETFOREGROUND);
        return false;
    }
    return true;
}

bool DownloadDialog::FileMatchesPin(const char* temporary) {
    if (filePinned == PinNone || CurrentTransport() == httpTransport) return true;
    unsigned char digest[kSha256Size];
    if (filePinned == PinGiven && Sha256OfFile(temporary, digest) == 0 && SameDigest(digest, filePin)) return true;
    DeleteFileA(temporary);
    LogEvent("fetch of %s from %s: try %d failed: it %s", currentFile, siteName, pinFailures + 1,
             "does not match the fingerprint in the setup");
    if (++pinFailures < kPinnedFileTries) {
        // The same file again, over the connection that is open.
        connectPending = 1;
        NextFile();
        return false;
    }
    FingerprintFailed();
    return false;
}

bool DownloadDialog::TryNextSite(int error) {
    if (!currentComponent || !AnotherSiteMayHelp(error)) return false;
    char key[40], next[sizeof siteName];
    NumberedKeyName(KeyMirrorSite, siteNumber + 1, key, sizeof key);
    ReadSetting(currentComponent->section, key, "", next, sizeof next, currentComponent->infPath);
    const int number = NextSiteNumber(siteNumber, next);
    if (!number) return false;
    LogEvent("fetch of %s from %s failed; the next site is tried: %s (%s), the parts already checked kept",
             currentFile, siteName, next, key);
    siteNumber = number;
    CopyTruncated(siteName, static_cast<int>(sizeof siteName), next);
    pinFailures = 0;
    // The same file again, from the new site once it is connected.
    connectPending = 1;
    NextFile();
    return true;
}

void DownloadDialog::FingerprintFailed() {
    if (TryNextSite(kFetchFingerprintMismatch)) return;
    LogEvent("fetch of %s failed: it does not match the fingerprint in the setup; nothing of it is installed",
             currentFile);
    SetStatusFromString(IDS_FINGERPRINT_MISMATCH, currentFile, siteName);
    PostDone(1);
    SetCurrentState(DownloadError);
}

void DownloadDialog::PostDone(int failed) {
    if (fetchOver) return;
    fetchOver = 1;
    LogEvent("fetch phase over%s", failed ? " after a failure" : ": nothing left to fetch");
    PostMessageA(hwnd, msgDldone, failed, 0);
}

void DownloadDialog::Complete() {
    completing = 1;
    CompletionRun run = {hwnd,           statusControl,     listControl,       componentCount,
                         usesNetwork,    allowIntervention, saveProxySettings, installKept,
                         downloadFolder, setupPath,         &SharedHttpSettings};
    CompleteRun(this, run);
}

void DownloadDialog::HideRunWindow() {
    windowShown = 0;
    ShowWindow(hwnd, SW_HIDE);
}

void DownloadDialog::EndRun(int result) {
    // The first ending holds: a suspension by the end of the Windows
    // session is not overwritten by a completion still on the stack.
    if (endedWith) return;
    endedWith = result;
    EndDialog(hwnd, result);
}

void DownloadDialog::SetStatus(const char* text) { SetWindowTextA(statusControl, text); }

void DownloadDialog::SetStatusFromString(UINT id, const char* fileName, const char* site) {
    char format[300];
    char text[600];
    LoadStringA(GetModuleInstance(), id, format, sizeof format);
    FormatFileStatus(format, fileName, site, text, sizeof text);
    SetStatus(text);
}

void DownloadDialog::OnConnected(WPARAM error) {
    if (error) {
        LogEvent("cannot connect to %s (error %d)", siteName, static_cast<int>(error));
        if (TryNextSite(kSiteUnreachable)) return;
        SetStatusFromString(IDS_CONNECT_FAILED, siteName, siteName);
        // As after a failed transfer, the row says so rather than go on
        // reading "Downloading..." once the run has stopped.
        if (currentIndex >= 0) SetRowState(currentIndex, DownloadError);
        PostDone(1);
        return;
    }
    CopyTruncated(connectedSite, static_cast<int>(sizeof connectedSite), siteName);
    connectedTransport = CurrentTransport();
    // A fetch that cannot start has posted "dldone" already: completion
    // then reports the missing component and the files stay.
    NextFile();
}

void DownloadDialog::OnTransferStart(WPARAM wParam, LPARAM lParam) {
    ShowProgress();
    if (ReportCode(wParam)) {
        LogEvent("transfer of %s refused (error %d)", currentFile, ReportCode(wParam));
        SetStatusFromString(IDS_RECEIVE_FAILED, currentFile, siteName);
        PostDone(1);
        SetCurrentState(DownloadError);
        return;
    }
    totalBytes = ReportBytes(wParam, lParam);
    LogEvent("transfer of %s starts: %lld bytes", currentFile, totalBytes);
    HWND progress = GetDlgItem(hwnd, kProgressId);
    SendMessageA(progress, PBM_SETRANGE32, 0, ProgressSteps(totalBytes, totalBytes));
    SendMessageA(progress, PBM_SETPOS, 0, 0);
}

void DownloadDialog::OnProgress(WPARAM wParam, LPARAM lParam) {
    progressBytes = ReportBytes(wParam, lParam);
    progressPending = 1;
    DWORD since = GetTickCount() - progressPaintedAt;
    if (since >= kProgressPaintMs) {
        ShowProgress();
    } else if (!progressTimer) {
        progressTimer = SetTimer(hwnd, kProgressTimerId, kProgressPaintMs - since, nullptr);
        // Without a timer nothing would show the report later: show it now.
        if (!progressTimer) ShowProgress();
    }
}

// Paints the report that waits, if any; every report that ends a transfer
// or starts another comes after it, so the last progress is always seen.
void DownloadDialog::ShowProgress() {
    if (progressTimer) {
        KillTimer(hwnd, progressTimer);
        progressTimer = 0;
    }
    if (!progressPending) return;
    progressPending = 0;
    progressPaintedAt = GetTickCount();
    char format[300];
    char text[600];
    LoadStringA(GetModuleInstance(), IDS_DOWNLOAD_PROGRESS, format, sizeof format);
    // The format carries one "%s" and two "%d".
    snprintf(text, sizeof text, format, currentFile, ShownKilobytes(progressBytes), ShownKilobytes(totalBytes));
    SetStatus(text);
    SendMessageA(GetDlgItem(hwnd, kProgressId), PBM_SETPOS,
                 static_cast<WPARAM>(ProgressSteps(progressBytes, totalBytes)), 0);
}

void DownloadDialog::OnFileDone(WPARAM error, LPARAM detail) {
    ShowProgress();
    int certificateText = error == kFetchCertificateFailed ? CertificateMessageId(static_cast<int>(detail)) : 0;
    if (certificateText && TryNextSite(kFetchCertificateFailed)) return;
    if (certificateText) {
        // The host, and why its certificate was refused.
        char host[256];
        SiteHost(siteName, host, sizeof host);
        SetStatusFromString(static_cast<UINT>(certificateText), host, siteName);
        PostDone(1);
        SetCurrentState(DownloadError);
        return;
    }
    if (error == kFetchFingerprintMismatch) {
        FingerprintFailed();
        return;
    }
    if (error) {
        LogEvent("fetch of %s failed (error %d%s)", currentFile, static_cast<int>(error),
                 error == 5 ? ", disk full" : "");
        if (TryNextSite(static_cast<int>(error))) return;
        SetStatusFromString(error == 5 ? IDS_DISK_FULL : IDS_RECEIVE_FAILED, currentFile, siteName);
        PostDone(1);
        SetCurrentState(DownloadError);
        return;
    }
    char target[MAX_PATH];
    char temporary[MAX_PATH];
    GetSourcePath(currentComponent, currentFile, target, sizeof target);
    GetSourcePath(currentComponent, "tmp.tmp", temporary, sizeof temporary);
    if (!FileMatchesPin(temporary)) return;
    CreateParentDirectories(target);
    if (MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        char figures[100];
        FormatTransfer(FileSizeOf(target), static_cast<long long>(GetTickCount() - fetchStartTick), figures,
                       sizeof figures);
        LogEvent("fetched %s from %s: %s", target, siteName, figures);
        NextFile();
    } else {
        LogEvent("fetched %s but cannot move it to %s (error %lu)", currentFile, target,
                 static_cast<unsigned long>(GetLastError()));
        SetCurrentState(DownloadError);
        PostDone(1);
    }
}

void DownloadDialog::OnQuit() {
    InterruptHttp(1);
    if (ShowRunMessage(IDS_CONFIRM_QUIT, MB_YESNO | MB_ICONWARNING) != IDYES) {
        ClearHttpInterrupt();
        return;
    }
    ftpTransport->Close();
    httpTransport->Close();
    // A paused worker would wait for ever; let it end before its next part.
    ClearHttpInterrupt();
    InterruptHttp(0);
    userQuit = 1;
    LogEvent("quit: the user confirmed");
    EndRun(ResultFinished);
}

INT_PTR DownloadDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == msgDl1) {
        if (!fetchOver) OnConnected(wParam);
        return TRUE;
    }
    if (message == msgDl2) {
        if (!fetchOver) OnTransferStart(wParam, lParam);
        return TRUE;
    }
    if (message == msgDl3) {
        if (!fetchOver) OnProgress(wParam, lParam);
        return TRUE;
    }
    if (message == msgDl4) {
        if (!fetchOver) OnFileDone(wParam, lParam);
        return TRUE;
    }
    if (message == msgDldone) {
        // Completion runs once, however many reports led here.
        if (!completing && !endedWith) Complete();
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_TIMER:
        if (wParam != kProgressTimerId) break;
        // Reports are no longer shown once the fetch phase is over.
        if (fetchOver) progressPending = 0;
        ShowProgress();
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        // The modal loop shows a dialog the first time its queue runs dry;
        // a run that needs no window stays hidden.
        if (!windowShown) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
        return FALSE;
    case WM_DESTROY:
        FreeComponents();
        return DialogBase::HandleDialogMessage(message, wParam, lParam);
    case WM_QUERYENDSESSION:
        // An install action waiting for a program sees the flag as soon as
        // this message returns and stops waiting; nothing further starts.
        restartPending = 1;
        LogEvent("Windows ends the session: the download is suspended");
        InterruptHttp(0);
        EndRun(ResultSuspended);
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kQuitId:
        case IDCANCEL:
            // Escape and the close box are cut off with the Quit button.
            if (allowIntervention && !endedWith) OnQuit();
            return TRUE;
        case kSuspendId:
            if (!allowIntervention || endedWith) return TRUE;
            LogEvent("suspend: chosen by the user");
            InterruptHttp(0);
            EndRun(ResultSuspended);
            return TRUE;
        case IDOK:
        case ResultKeepFiles:
            // Enter has no meaning here; it must not end the run.
            return TRUE;
        }
        break;
    }
    return DialogBase::HandleDialogMessage(message, wParam, lParam);
}
