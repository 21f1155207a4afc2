// Smallest form of the download dialog: it ends at once as a finished run.
// The real fetch loop replaces it.
#include "download/download_dialog_win.h"

DownloadDialog::DownloadDialog(const char* downloadFolder, int showIntro, int resuming,
                               const char* setupPath, int saveProxySettings)
    : DialogBase(101),
      downloadFolder(downloadFolder),
      setupPath(setupPath),
      allowIntervention(1),
      showIntro(showIntro),
      resuming(resuming),
      saveProxySettings(saveProxySettings) {}

DownloadDialog::~DownloadDialog() {}

INT_PTR DownloadDialog::OnInitDialog() {
    PostMessageA(hwnd, WM_COMMAND, 1003, 0);
    return TRUE;
}

INT_PTR DownloadDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    return DialogBase::HandleDialogMessage(message, wParam, lParam);
}
