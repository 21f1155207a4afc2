// The download dialog: carries one download run from loading the setup
// description to the hand-over to the installation.
#pragma once
#include <windows.h>
#include "ui/window_win.h"

class DownloadDialog : public DialogBase {
public:
    DownloadDialog(const char* downloadFolder, int showIntro, int resuming, const char* setupPath,
                   int saveProxySettings);
    ~DownloadDialog();

    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Slot 3: the start sequence, on WM_INITDIALOG.
    virtual INT_PTR OnInitDialog();

    const char* downloadFolder;
    const char* setupPath;
    int allowIntervention;  // the user may suspend, quit and answer questions
    int showIntro;
    int resuming;
    int saveProxySettings;
};
