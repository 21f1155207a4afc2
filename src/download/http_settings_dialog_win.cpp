// The HTTP settings dialog: fields in, fields out on OK, nothing validated.
#include "download/http_settings_dialog_win.h"

#include <cstdio>

#include "base/text_copy.h"
#include "download/line_file.h"
#include "http/proxy_auth.h"
#include "resources/resource.h"

namespace {
// A field as typed, cut to its buffer where a character begins.
void ReadField(HWND dialog, int id, char* out, int size) {
    GetDlgItemTextA(dialog, id, out, size);
    TrimCutCharacter(out);
}
}  // namespace

HttpSettingsDialog::HttpSettingsDialog(const char* proxyAddress_, const char* proxyPort_,
                                       const char* proxyUser_, const char* proxyPassword_,
                                       const char* site, const char* remotePath,
                                       const char* siteUser_, const char* sitePassword_)
    : DialogBase(IDD_HTTP_SETTINGS) {
    CopyTruncated(proxyAddress, sizeof proxyAddress, proxyAddress_);
    CopyTruncated(proxyPort, sizeof proxyPort, proxyPort_);
    CopyTruncated(proxyUser, sizeof proxyUser, proxyUser_);
    CopyTruncated(proxyPassword, sizeof proxyPassword, proxyPassword_);
    CopyTruncated(siteUser, sizeof siteUser, siteUser_);
    CopyTruncated(sitePassword, sizeof sitePassword, sitePassword_);
    address[0] = 0;
    if (site && remotePath) std::snprintf(address, sizeof address, "%s%s", site, remotePath);
}

INT_PTR HttpSettingsDialog::OnInitDialog() {
    SetDlgItemTextA(hwnd, IDC_PROXY_ADDRESS, proxyAddress);
    SetDlgItemTextA(hwnd, IDC_PROXY_PORT, proxyPort);
    SetDlgItemTextA(hwnd, IDC_PROXY_USER, proxyUser);
    SetDlgItemTextA(hwnd, IDC_PROXY_PASSWORD, proxyPassword);
    SetDlgItemTextA(hwnd, IDC_SITE_ADDRESS, address);
    SetDlgItemTextA(hwnd, IDC_SITE_USER, siteUser);
    SetDlgItemTextA(hwnd, IDC_SITE_PASSWORD, sitePassword);
    if (notice[0]) SetDlgItemTextA(hwnd, IDC_SETTINGS_NOTICE, notice);
    char schemes[64];
    DescribeProxySchemes(proxySchemes, schemes, sizeof schemes);
    char format[200] = "";
    char text[300] = "";
    if (schemes[0]) {
        int id = (proxySchemes & (kSchemeNegotiate | kSchemeNtlm)) ? IDS_PROXY_LOGIN_WINDOWS : IDS_PROXY_LOGIN_BASIC;
        LoadStringA(GetModuleInstance(), id, format, sizeof format);
        std::snprintf(text, sizeof text, format, schemes);
    }
    SetDlgItemTextA(hwnd, IDC_PROXY_LOGIN, text);
    return TRUE;
}

INT_PTR HttpSettingsDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        CenterOnScreen(hwnd);
        if (openWindow) {
            InterlockedExchangePointer(reinterpret_cast<void* volatile*>(openWindow), hwnd);
            if (cancelled && *cancelled) PostMessageA(hwnd, WM_COMMAND, 1009, 0);
        }
        return OnInitDialog();
    }
    if (message == WM_DESTROY && openWindow) *openWindow = nullptr;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        ReadField(hwnd, IDC_PROXY_ADDRESS, proxyAddress, sizeof proxyAddress);
        ReadField(hwnd, IDC_PROXY_PORT, proxyPort, sizeof proxyPort);
        ReadField(hwnd, IDC_PROXY_USER, proxyUser, sizeof proxyUser);
        ReadField(hwnd, IDC_PROXY_PASSWORD, proxyPassword, sizeof proxyPassword);
        ReadField(hwnd, IDC_SITE_USER, siteUser, sizeof siteUser);
        ReadField(hwnd, IDC_SITE_PASSWORD, sitePassword, sizeof sitePassword);
    }
    return DialogBase::HandleDialogMessage(message, wParam, lParam);
}
