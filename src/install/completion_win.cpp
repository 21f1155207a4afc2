// The completion step of the download dialog: checks that every component is
// present, asks whether to install, runs the install rounds of each
// component in install order, records the run in the state file and ends
// the dialog with the result that tells start-up what to clean up.
#include "download/download_dialog_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/process_win.h"
#include "download/fetch_rules.h"
#include "download/shared_http_settings.h"
#include "install/install_win.h"
#include "install/state_file_win.h"
#include "resources/resource.h"
#include "setup/catalogue_win.h"
#include "setup/profile_win.h"

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

void DownloadDialog::Complete() {
    completing = 1;
    SetForegroundWindow(hwnd);

    int missing = 0;
    for (int row = 0; row < componentCount; ++row) {
        Component* component = GetRowComponent(row);
        DecideInitialState(component);
        SetRowState(row, component->state);
        if (component->state != AlreadyInstalled && component->state != Downloaded) missing = 1;
    }
    if (missing) {
        ShowRunMessage(usesNetwork ? IDS_DOWNLOAD_INCOMPLETE : IDS_FILES_MISSING,
                       MB_ICONERROR | MB_SETFOREGROUND);
        EndRun(ResultKeepFiles);
        return;
    }

    char text[300];
    LoadStringA(GetModuleInstance(), IDS_ALL_DOWNLOADED, text, sizeof text);
    SetWindowTextA(statusControl, text);
    SendMessageA(GetDlgItem(hwnd, kProgressId), PBM_SETPOS, 0, 0);

    INT_PTR choice = 1;
    if (usesNetwork) {
        windowShown = 0;
        ShowWindow(hwnd, SW_HIDE);
        if (allowIntervention) choice = RunQuestion(IDD_READY);
        EnableWindow(GetDlgItem(hwnd, kQuitId), FALSE);
        EnableWindow(hwnd, TRUE);
    }
    if (endedWith) return;  // Windows ended the session meanwhile
    if (choice != 1) {
        if (RunQuestion(IDD_CANCEL_INSTALL) == ResultKeepFiles) {
            EndRun(ResultFinished);  // "&Delete files"
        } else {
            WriteStateText("download", "complete", "1");
            EndRun(ResultKeepFiles);
        }
        return;
    }

    WriteStateText("result", "success", "0");
    WriteStateText("download", "complete", "1");
    if (usesNetwork && saveProxySettings) {
        const char* address = SharedHttpSettings.proxyAddress;
        WriteStateText("ProxySettings", "Valid", address[0] ? "TRUE" : "FALSE");
        if (address[0]) {
            WriteStateText("ProxySettings", "Proxy", address);
            WriteStateText("ProxySettings", "Port", SharedHttpSettings.proxyPort);
        }
    }

    int allLocal = 1;
    for (int row = 0; row < componentCount; ++row) {
        int protocol = GetProtocol(GetRowComponent(row));
        if (protocol == ProtocolFtp || protocol == ProtocolHttp) allLocal = 0;
    }

    InstallAll();

    RunEnd end = DecideRunEnd(ReadStateInt("result", "success", 0), allLocal, secondInstance,
                              usesNetwork);
    if (endedWith) return;
    if (end.deleteStateFile) DeleteStateFile();
    EndRun(end.result);
}

void DownloadDialog::InstallAll() {
    int count = componentCount;
    int* states = static_cast<int*>(malloc(sizeof(int) * (count > 0 ? count : 1)));
    int* orders = static_cast<int*>(malloc(sizeof(int) * (count > 0 ? count : 1)));
    if (!states || !orders) {
        free(states);
        free(orders);
        return;
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
        char name[70];
        name[0] = '\0';
        ListView_GetItemText(listControl, row, 0, name, sizeof name);
        int rounds = static_cast<int>(
            GetPrivateProfileIntA(component->section, "count", 1, component->infPath));
        for (int i = 1; i <= rounds; ++i) {
            char key[32];
            char line[512];
            snprintf(key, sizeof key, "extract%d", i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            if (line[0]) {
                SetStatusText(statusControl, IDS_EXTRACTING_NAME, name);
                SetRowState(row, Extracting);
                result = RunAction(component, line);
            }
            snprintf(key, sizeof key, "registry%d", i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            if (line[0]) ImportRegistrySection(component->infPath, line);
            snprintf(key, sizeof key, "install%d", i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            if (line[0]) {
                SetStatusText(statusControl, IDS_INSTALLING_NAME, name);
                SetRowState(row, Installing);
                result = RunAction(component, line);
            }
            if (result == 0) break;
        }
        SetRowState(row, InstallDone);
    }
    free(states);
    free(orders);
}
