// The completion step of a download run: checks, asks, installs in install
// order, records the run in the state file and ends the run through its
// host.
#include "install/completion_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/process_win.h"
#include "base/run_log.h"
#include "base/status_text.h"
#include "base/text_copy.h"
#include "install/elevation.h"
#include "install/elevation_win.h"
#include "install/install_rules.h"
#include "install/install_win.h"
#include "install/kept_files_win.h"
#include "install/state_file_win.h"
#include "resources/resource.h"
#include "setup/catalogue_win.h"
#include "setup/profile_win.h"
#include "setup/setup_keys.h"
#include "ui/window_win.h"

namespace {
const int kProgressId = IDC_PROGRESS;
const int kQuitId = IDC_QUIT;

void SetStatusText(HWND status, UINT id, const char* name) {
    char format[300];
    char text[400];
    LoadStringA(GetModuleInstance(), id, format, sizeof format);
    FormatFileStatus(format, name, "", text, sizeof text);
    SetWindowTextA(status, text);
}
}  // namespace

void CompleteRun(CompletionHost* host, const CompletionRun& run) {
    SetForegroundWindow(run.window);

    int missing = 0;
    int refused = 0;
    for (int row = 0; row < run.componentCount; ++row) {
        Component* component = GetRowComponent(row);
        DecideInitialState(component);
        // The files of a network component were checked as they came; those
        // taken where they lie are checked here, before anything installs.
        const int protocol = GetProtocol(component);
        if (component->state == Downloaded && protocol != ProtocolFtp && protocol != ProtocolHttp &&
            !host->LocalFilesMatchPins(component)) {
            component->state = DownloadError;
            refused = 1;
        } else if (component->state != AlreadyInstalled && component->state != Downloaded) {
            missing = 1;
        }
        SetRowState(row, component->state);
    }
    if (refused && !missing) {
        // The host has told which file its pin refused.
        LogEvent("completion: a file refused by its fingerprint: nothing is installed");
        host->EndRun(ResultKeepFiles);
        return;
    }
    if (missing) {
        LogEvent("completion: components missing: message %d", run.usesNetwork ? IDS_DOWNLOAD_INCOMPLETE : IDS_FILES_MISSING);
        host->ShowRunMessage(run.usesNetwork ? IDS_DOWNLOAD_INCOMPLETE : IDS_FILES_MISSING,
                       MB_ICONERROR | MB_SETFOREGROUND);
        host->EndRun(ResultKeepFiles);
        return;
    }

    char text[300];
    LoadStringA(GetModuleInstance(), IDS_ALL_DOWNLOADED, text, sizeof text);
    SetWindowTextA(run.statusControl, text);
    SendMessageA(GetDlgItem(run.window, kProgressId), PBM_SETPOS, 0, 0);

    INT_PTR choice = 1;
    if (run.usesNetwork) {
        host->HideRunWindow();
        // The elevated copy was started by the answer to this question.
        if (run.allowIntervention && !run.installKept) choice = host->RunQuestion(IDD_READY);
        LogEvent("ready to install: %s", !run.allowIntervention || run.installKept ? "asked nothing"
                                         : choice == 1 ? "\"&Install\" chosen"
                                                       : "\"&Cancel\" chosen");
        EnableWindow(GetDlgItem(run.window, kQuitId), FALSE);
        EnableWindow(run.window, TRUE);
    }
    if (host->RunEnded()) return;  // Windows ended the session meanwhile
    if (choice != 1) {
        if (host->RunQuestion(IDD_CANCEL_INSTALL) == ResultKeepFiles) {
            host->NoteUserQuit();
            LogEvent("install declined: \"&Delete files\" chosen");
            host->EndRun(ResultFinished);  // "&Delete files"
        } else {
            LogEvent("install declined: \"&Keep files\" chosen");
            WriteStateText("download", "complete", "1");
            host->EndRun(ResultKeepFiles);
        }
        return;
    }

    // The install writes where only administrators may: without the rights
    // on a system that can give them, the elevated copy installs instead.
    ElevationSystem* system = CurrentElevationSystem();
    if (ChooseInstallRoute(system->HasElevation(), system->IsElevated(), run.installKept) ==
        InstallInElevatedCopy) {
        // What the copy may install: the files as they are now, each with
        // its SHA-256, in a list whose own SHA-256 goes on its command line.
        char keptSum[kSha256HexLength + 1];
        if (!WriteKeptList(run.downloadFolder, run.setupPath, run.componentCount, keptSum)) {
            host->ShowRunMessage(IDS_KEPT_LIST_FAILED, MB_ICONERROR | MB_SETFOREGROUND);
            WriteStateText("download", "complete", "1");
        } else if (HandInstallOver(run.window, run.downloadFolder, run.setupPath, secondInstance,
                                   deferPackageSetup, run.saveProxySettings, keptSum)) {
            host->NoteHandedOver();
        } else {
            // Refused (or the copy could not start): kept as after "&Keep
            // files", so that the next start goes straight to the question.
            host->ShowRunMessage(IDS_ELEVATION_REFUSED, MB_ICONWARNING | MB_SETFOREGROUND);
            WriteStateText("download", "complete", "1");
        }
        host->EndRun(ResultKeepFiles);
        return;
    }

    WriteStateText("result", "success", "0");
    WriteStateText("download", "complete", "1");
    if (run.usesNetwork && run.saveProxySettings && run.proxySettings) {
        const char* address = run.proxySettings->proxyAddress;
        WriteStateText("ProxySettings", "Valid", address[0] ? "TRUE" : "FALSE");
        if (address[0]) {
            WriteStateText("ProxySettings", "Proxy", address);
            WriteStateText("ProxySettings", "Port", run.proxySettings->proxyPort);
        }
    }

    int allLocal = 1;
    for (int row = 0; row < run.componentCount; ++row) {
        int protocol = GetProtocol(GetRowComponent(row));
        if (protocol == ProtocolFtp || protocol == ProtocolHttp) allLocal = 0;
    }

    ActionOutcome outcome = {};
    int installed = InstallAll(run, &outcome);

    int success = ReadStateInt("result", "success", 0);
    RunEnd end = DecideRunEnd(!installed, success, allLocal, secondInstance, run.usesNetwork,
                              outcome.exitCodeSuccess);
    LogEvent("install over: %s, state file [result] success=%d%s%s: %s",
             installed ? "every step succeeded" : "a step failed", success,
             allLocal ? ", a local run" : "", outcome.exitCodeSuccess ? ", exit codes tell success" : "",
             end.result == ResultFinished ? "finished" : "files kept for another try");
    if (installed && outcome.restartNeeded)
        LogEvent("a restart of Windows is needed to finish the install, as a program's exit code said");
    if (host->RunEnded()) return;
    if (end.deleteStateFile) DeleteStateFile();
    host->EndRun(end.result);
}

int InstallAll(const CompletionRun& run, ActionOutcome* outcome) {
    int count = run.componentCount;
    int* states = static_cast<int*>(malloc(sizeof(int) * (count > 0 ? count : 1)));
    int* orders = static_cast<int*>(malloc(sizeof(int) * (count > 0 ? count : 1)));
    if (!states || !orders) {
        free(states);
        free(orders);
        return 0;
    }
    int result = 1;
    while (result == 1) {
        for (int row = 0; row < count; ++row) {
            Component* component = GetRowComponent(row);
            states[row] = component->state;
            orders[row] = component->installOrder;
        }
        int row = PickInstallRow(states, orders, count);
        if (row < 0) break;
        Component* component = GetRowComponent(row);
        // The status texts show up to 69 characters of the name. The buffer
        // holds any whole name in any code page: a list view that cannot
        // fit a UTF-8 text may leave it unterminated.
        char name[800] = "";
        ListView_GetItemText(run.listControl, row, 0, name, sizeof name);
        name[sizeof name - 1] = '\0';
        TrimCutCharacter(name);
        LimitCharacters(name, 69);
        int rounds = ReadSettingInt(component->section, "count", 1, component->infPath);
        char resultFrom[32];
        ReadSetting(component->section, SetupKeyName(KeyResultFrom), "", resultFrom, sizeof resultFrom,
                    component->infPath);
        int source = ResultSourceOf(resultFrom);
        if (source == ResultFromUnknown) {
            LogEvent("component %s: resultFrom=%s is neither statefile nor exitcode: the state file tells the "
                     "result", component->section, resultFrom);
            source = ResultFromStateFile;
        }
        LogEvent("installing component %s (order %d, %d round%s%s)", component->section,
                 component->installOrder, rounds, rounds == 1 ? "" : "s",
                 source == ResultFromExitCode ? "; its programs' exit codes tell their result" : "");
        // A failed step ends the component's install there: a later step
        // would build on what is missing. Once Windows is ending the
        // session nothing new is started.
        for (int i = 1; i <= rounds && result == 1; ++i) {
            char key[32];
            char line[512];
            snprintf(key, sizeof key, "extract%d", i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            if (line[0]) {
                if (restartPending) {
                    result = 0;
                    break;
                }
                SetStatusText(run.statusControl, IDS_EXTRACTING_NAME, name);
                SetRowState(row, Extracting);
                result = RunAction(component, line, source, outcome);
                if (result == 0) break;
            }
            snprintf(key, sizeof key, "registry%d", i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            if (line[0]) {
                // Values the client needs and did not get fail the component
                // like any other step.
                result = ImportRegistrySection(component->infPath, line);
                LogEvent("registry %s: %s", line, result ? "imported" : "not or not wholly imported");
                if (result == 0) break;
            }
            snprintf(key, sizeof key, "install%d", i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            if (line[0]) {
                if (restartPending) {
                    result = 0;
                    break;
                }
                SetStatusText(run.statusControl, IDS_INSTALLING_NAME, name);
                SetRowState(row, Installing);
                result = RunAction(component, line, source, outcome);
            }
        }
        SetRowState(row, InstallDone);
        // The wait for a program ends early when the session ends: the
        // component is not known to be installed.
        if (restartPending) result = 0;
        if (result == 0)
            LogEvent("component %s: %s; the install stops here", component->section,
                     restartPending ? "Windows is ending the session" : "a step failed");
    }
    free(states);
    free(orders);
    return result;
}
