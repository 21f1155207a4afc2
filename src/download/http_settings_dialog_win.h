// "HTTP Settings": asks the user for the site credentials and the proxy
// settings when no arrangement reaches a component's part list. Runs
// modally on the fetch worker's thread.
#pragma once
#include "ui/window_win.h"

class HttpSettingsDialog : public DialogBase {
public:
    // Any text may be null; `address` shows the site followed by the path.
    HttpSettingsDialog(const char* proxyAddress, const char* proxyPort, const char* proxyUser,
                       const char* proxyPassword, const char* site, const char* remotePath,
                       const char* siteUser, const char* sitePassword);
    ~HttpSettingsDialog() {}

    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Slot 3: writes the seven fields into their controls.
    virtual INT_PTR OnInitDialog();

    char proxyAddress[260];
    char proxyPort[260];
    char proxyUser[260];
    char proxyPassword[260];
    char address[260];
    char siteUser[260];
    char sitePassword[260];
    // Shown in place of the dialog's opening text when not empty: why the
    // site could not be reached (a certificate that failed).
    char notice[300] = "";
    // The login schemes the proxy asked for at the last attempt (bit set
    // of ProxyScheme), shown below the proxy settings; 0 shows nothing.
    int proxySchemes = 0;

    // When set: the dialog announces its window there while it is open, and
    // cancels itself at once when *cancelled is already non-zero.
    HWND volatile* openWindow = nullptr;
    volatile LONG* cancelled = nullptr;
};
