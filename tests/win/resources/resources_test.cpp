// The program's resources as the code loads them: every string of the
// table, each dialog template with its controls, the tray menu, the icon
// and the version block.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../../src/resources/resource.h"

namespace {
HINSTANCE Self() { return GetModuleHandleA(nullptr); }

std::string LoadText(UINT id) {
    char buffer[1024] = "";
    int n = LoadStringA(Self(), id, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? n : 0);
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// A modeless copy of a template, destroyed when the holder goes.
struct DialogCopy {
    explicit DialogCopy(UINT id) {
        InitCommonControls();
        hwnd = CreateDialogParamA(Self(), MAKEINTRESOURCEA(id), nullptr, QuietDialogProc, 0);
    }
    ~DialogCopy() {
        if (hwnd) DestroyWindow(hwnd);
    }
    std::string Text(int control) const {
        char buffer[512] = "";
        GetDlgItemTextA(hwnd, control, buffer, sizeof buffer);
        return buffer;
    }
    std::string ClassOf(int control) const {
        char buffer[64] = "";
        GetClassNameA(GetDlgItem(hwnd, control), buffer, sizeof buffer);
        return buffer;
    }
    LONG StyleOf(int control) const { return GetWindowLongA(GetDlgItem(hwnd, control), GWL_STYLE); }
    std::string Caption() const {
        char buffer[128] = "";
        GetWindowTextA(hwnd, buffer, sizeof buffer);
        return buffer;
    }
    // The client rectangle of a control, in the dialog's client coordinates.
    RECT Where(HWND control) const {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    // Dialog units to pixels as the dialog manager places a control: the
    // origin and the size are converted separately.
    RECT Units(int x, int y, int w, int h) const {
        RECT r = {x, y, w, h};
        MapDialogRect(hwnd, &r);
        RECT placed = {r.left, r.top, r.left + r.right, r.top + r.bottom};
        return placed;
    }
    HWND hwnd;
};

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
}  // namespace

TEST(StringTable, EveryTextIsPresentAndIdsWithoutTextAreEmpty) {
    const UINT present[] = {16,  17,  18,  19,  20,  512, 513, 514, 515, 517, 518, 519,
                            520, 578, 579, 580, 581, 582, 583, 584, 585, 586, 587, 588,
                            589, 590, 591, 592, 593, 594, 595, 596, 597, 598, 599, 600, 601, 602, 620, 621,
                            622, 623};
    for (UINT id : present) EXPECT_FALSE(LoadText(id).empty()) << "string " << id;
    EXPECT_TRUE(LoadText(516).empty());
}

TEST(StringTable, TextsAreExact) {
    EXPECT_EQ("Corvane Lite Installer", LoadText(16));
    EXPECT_EQ("Cannot initialize WinSock.", LoadText(17));
    EXPECT_EQ("Software\\Corvane\\CvGet", LoadText(19));
    EXPECT_EQ("Corvane", LoadText(20));
    EXPECT_EQ("Need to download.", LoadText(514));
    EXPECT_EQ("Downloading file '%s' (%dK of %dK)...", LoadText(586));
    EXPECT_EQ("Error while downloading %1: Out of disk space. Remove some files and run again.",
              LoadText(591));
    EXPECT_EQ("Downloading has been suspended.\nYou can resume downloading at any time, from where "
              "you left off, by double-clicking the Corvane Lite Installer icon in your Windows "
              "taskbar.",
              LoadText(592));
    EXPECT_EQ("You may not run multiple instances of this application.", LoadText(594));
    EXPECT_EQ("Corvane Lite Installer is now ready to resume downloading.\nClick Yes to resume "
              "downloading now, No to postpone downloading, or Cancel to terminate the "
              "downloading process.",
              LoadText(595));
    EXPECT_EQ("Error: The certificate of '%s' is not trusted. Nothing is downloaded from this site.",
              LoadText(597));
    EXPECT_EQ("Error: The certificate of '%s' has been revoked by its issuer. Nothing is downloaded from this "
              "site.",
              LoadText(622));
    EXPECT_EQ("Error: '%s' from '%s' does not match the fingerprint in the setup. Nothing of it is installed.",
              LoadText(623));
    // The longest text fits the 512-character buffer of the message boxes.
    EXPECT_LT(LoadText(585).size(), 512u);
}

TEST(DialogTemplates, DownloadDialogHasItsControlsAndStartsHidden) {
    DialogCopy d(IDD_DOWNLOAD);
    ASSERT_TRUE(d.hwnd);
    EXPECT_EQ("Downloading Software...", d.Caption());
    EXPECT_FALSE(IsWindowVisible(d.hwnd));
    LONG style = GetWindowLongA(d.hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_STRCASEEQ(WC_LISTVIEWA, d.ClassOf(1000).c_str());
    EXPECT_EQ(LVS_REPORT, d.StyleOf(1000) & LVS_TYPEMASK);
    EXPECT_TRUE(d.StyleOf(1000) & LVS_NOSORTHEADER);
    EXPECT_STRCASEEQ(PROGRESS_CLASSA, d.ClassOf(1001).c_str());
    EXPECT_EQ("Download status", d.Text(1002));
    EXPECT_EQ(SS_CENTER, d.StyleOf(1002) & SS_TYPEMASK);
    EXPECT_TRUE(d.StyleOf(1002) & SS_SUNKEN);
    EXPECT_EQ("&Suspend", d.Text(1004));
    EXPECT_EQ("&Quit", d.Text(1003));
    // The buttons are the lowest controls: cutting the dialog at the top of
    // Quit removes them and nothing else.
    RECT quit = d.Where(GetDlgItem(d.hwnd, 1003));
    for (int id : {1000, 1001, 1002}) EXPECT_LE(d.Where(GetDlgItem(d.hwnd, id)).bottom, quit.top);
}

TEST(DialogTemplates, SimpleDialogsHaveTheirTextsAndTwoButtons) {
    struct Expect {
        UINT id;
        const char* title;
        const char* first;
        const char* second;
        const char* textStart;
    } cases[] = {
        {IDD_READY, "Ready to Install", "&Install", "&Cancel",
         "Corvane Lite Installer has finished downloading your Quorrin client.\n\nWould"},
        {IDD_INTRO, "Corvane Lite Installer", "&Continue", "&Exit",
         "The Corvane Lite Installer will download the necessary components"},
        {IDD_CANCEL_INSTALL, "Cancel Installation", "&Keep files", "&Delete files",
         "Would you like to keep the downloaded files?\n\nIf you keep"},
    };
    for (const Expect& e : cases) {
        DialogCopy d(e.id);
        ASSERT_TRUE(d.hwnd) << e.id;
        EXPECT_EQ(e.title, d.Caption());
        EXPECT_FALSE(GetWindowLongA(d.hwnd, GWL_STYLE) & WS_SYSMENU) << e.id;
        EXPECT_EQ(e.first, d.Text(IDOK));
        EXPECT_EQ(BS_DEFPUSHBUTTON, d.StyleOf(IDOK) & BS_TYPEMASK) << e.id;
        EXPECT_EQ(e.second, d.Text(1009));
        // The static text is the one child without an id of its own.
        bool found = false;
        for (HWND c = GetWindow(d.hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char buffer[400] = "";
            GetWindowTextA(c, buffer, sizeof buffer);
            if (std::strncmp(buffer, e.textStart, std::strlen(e.textStart)) == 0) found = true;
        }
        EXPECT_TRUE(found) << e.id;
    }
}

TEST(DialogTemplates, HttpSettingsControlsSitWhereTheLayoutPutsThem) {
    DialogCopy d(IDD_HTTP_SETTINGS);
    ASSERT_TRUE(d.hwnd);
    EXPECT_EQ("HTTP Settings", d.Caption());
    struct Box {
        int id, x, y, w, h;
    } edits[] = {
        {1010, 71, 54, 116, 12},  {1012, 71, 71, 116, 12},  {1013, 71, 88, 116, 12},
        {1005, 72, 133, 116, 12}, {1008, 72, 150, 116, 12}, {1006, 72, 167, 116, 12},
        {1007, 72, 184, 116, 12}, {1015, 14, 209, 182, 16}, {1, 50, 232, 50, 14},
        {1009, 104, 232, 50, 14},
    };
    for (const Box& b : edits) {
        HWND c = GetDlgItem(d.hwnd, b.id);
        ASSERT_TRUE(c) << b.id;
        RECT want = d.Units(b.x, b.y, b.w, b.h), got = d.Where(c);
        EXPECT_TRUE(SameRect(want, got))
            << b.id << ": want " << want.left << "," << want.top << "," << want.right << ","
            << want.bottom << " got " << got.left << "," << got.top << "," << got.right << ","
            << got.bottom;
    }
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d.hwnd, 1010)));
    EXPECT_TRUE(d.StyleOf(1013) & ES_PASSWORD);
    EXPECT_TRUE(d.StyleOf(1007) & ES_PASSWORD);
    EXPECT_FALSE(d.StyleOf(1012) & ES_PASSWORD);
    for (int id : {1010, 1012, 1013, 1005, 1008, 1006, 1007}) {
        EXPECT_TRUE(d.StyleOf(id) & ES_AUTOHSCROLL) << id;
        EXPECT_TRUE(d.StyleOf(id) & WS_TABSTOP) << id;
        EXPECT_STRCASEEQ("Edit", d.ClassOf(id).c_str());
    }
    EXPECT_EQ("OK", d.Text(1));
    EXPECT_EQ("Cancel", d.Text(1009));
    // Tab order follows the layout: the first editable field after the
    // disabled address is the site user, the last is the proxy password;
    // the line naming the proxy's login (not a tab stop) sits before the buttons.
    std::vector<int> order;
    for (HWND c = GetWindow(d.hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (id > 0 && id != 0xFFFF) order.push_back(id);
    }
    // The opening text (1014) heads them: it gives way to the reason when a
    // site's certificate failed.
    EXPECT_EQ((std::vector<int>{1014, 1010, 1012, 1013, 1005, 1008, 1006, 1007, 1015, 1, 1009}), order);
}

TEST(TrayResources, MenuHoldsOpenThenQuitAndTheIconLoads) {
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(IDM_TRAY));
    ASSERT_TRUE(menu);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_TRUE(popup);
    ASSERT_EQ(2, GetMenuItemCount(popup));
    EXPECT_EQ(40003u, GetMenuItemID(popup, 0));
    EXPECT_EQ(40002u, GetMenuItemID(popup, 1));
    char text[32] = "";
    GetMenuStringA(popup, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("&Open", text);
    GetMenuStringA(popup, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("&Quit", text);
    DestroyMenu(menu);
    EXPECT_TRUE(LoadIconA(Self(), MAKEINTRESOURCEA(IDI_TRAY)));
}

TEST(VersionBlock, NamesTheProduct) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    char* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductName",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ("Corvane Lite Installer", value);
}
