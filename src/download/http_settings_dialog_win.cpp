// The HTTP settings dialog: fields in, fields out on OK, nothing validated.
#include "download/http_settings_dialog_win.h"

#include <cstdio>

#include "download/line_file.h"

HttpSettingsDialog::HttpSettingsDialog(const char* proxyAddress_, const char* proxyPort_,
                                       const char* proxyUser_, const char* proxyPassword_,
                                       const char* site, const char* remotePath,
                                       const char* siteUser_, const char* sitePassword_)
    : DialogBase(kHttpSettingsTemplate) {
    CopyText(proxyAddress, sizeof proxyAddress, proxyAddress_);
    CopyText(proxyPort, sizeof proxyPort, proxyPort_);
    CopyText(proxyUser, sizeof proxyUser, proxyUser_);
    CopyText(proxyPassword, sizeof proxyPassword, proxyPassword_);
    CopyText(siteUser, sizeof siteUser, siteUser_);
    CopyText(sitePassword, sizeof sitePassword, sitePassword_);
    address[0] = 0;
    if (site && remotePath) std::snprintf(address, sizeof address, "%s%s", site, remotePath);
}

INT_PTR HttpSettingsDialog::OnInitDialog() {
    SetDlgItemTextA(hwnd, kProxyAddressEdit, proxyAddress);
    SetDlgItemTextA(hwnd, kProxyPortEdit, proxyPort);
    SetDlgItemTextA(hwnd, kProxyUserEdit, proxyUser);
    SetDlgItemTextA(hwnd, kProxyPasswordEdit, proxyPassword);
    SetDlgItemTextA(hwnd, kAddressEdit, address);
    SetDlgItemTextA(hwnd, kSiteUserEdit, siteUser);
    SetDlgItemTextA(hwnd, kSitePasswordEdit, sitePassword);
    return TRUE;
}

INT_PTR HttpSettingsDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        CenterOnScreen(hwnd);
        return OnInitDialog();
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        GetDlgItemTextA(hwnd, kProxyAddressEdit, proxyAddress, sizeof proxyAddress);
        GetDlgItemTextA(hwnd, kProxyPortEdit, proxyPort, sizeof proxyPort);
        GetDlgItemTextA(hwnd, kProxyUserEdit, proxyUser, sizeof proxyUser);
        GetDlgItemTextA(hwnd, kProxyPasswordEdit, proxyPassword, sizeof proxyPassword);
        GetDlgItemTextA(hwnd, kSiteUserEdit, siteUser, sizeof siteUser);
        GetDlgItemTextA(hwnd, kSitePasswordEdit, sitePassword, sizeof sitePassword);
    }
    return DialogBase::HandleDialogMessage(message, wParam, lParam);
}
