// The HTTP settings dialog on its own thread, as the fetch worker runs it,
// answered through its controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/code_page_win.h"
#include "base/text_copy.h"
#include "download/http_settings_dialog_win.h"
#include "harness.h"

namespace {
struct Run {
    HttpSettingsDialog* dialog;
    INT_PTR result;
};

DWORD WINAPI ShowThread(LPVOID argument) {
    Run* run = static_cast<Run*>(argument);
    run->result = run->dialog->ShowModal(nullptr);
    return 0;
}

std::string Item(HWND dialog, int id) {
    char text[300] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Shows the dialog on a thread of its own, lets `act` answer it, and
// returns the dialog's result.
template <class Act>
INT_PTR Answer(HttpSettingsDialog& dialog, Act act) {
    Run run{&dialog, -5};
    HANDLE thread = CreateThread(nullptr, 0, ShowThread, &run, 0, nullptr);
    HWND window = nullptr;
    // Visible only once its initialisation has filled the controls.
    EXPECT_TRUE(PumpUntil([&] {
        window = FindWindowA(nullptr, "HTTP Settings");
        return window && IsWindowVisible(window);
    }));
    if (window) act(window);
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 30000));
    CloseHandle(thread);
    return run.result;
}
}  // namespace

TEST(HttpSettingsDialogTest, ShowsItsTextsAndReadsThemBackOnOk) {
    HttpSettingsDialog dialog("proxy", "3128", "puser", "ppass", "host/dir/", "src/", "suser", "spass");
    EXPECT_STREQ("host/dir/src/", dialog.address);
    std::string shown[7];
    INT_PTR result = Answer(dialog, [&](HWND w) {
        int ids[7] = {1005, 1008, 1006, 1007, 1010, 1012, 1013};
        for (int i = 0; i < 7; ++i) shown[i] = Item(w, ids[i]);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, 1010)));
        // Everything emptied is accepted as it is.
        for (int id : {1005, 1008, 1006, 1007, 1012, 1013}) SetDlgItemTextA(w, id, "");
        EXPECT_EQ("", Item(w, 1005));
        SetDlgItemTextA(w, 1010, "changed");
        PostMessageA(w, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ("proxy", shown[0]);
    EXPECT_EQ("3128", shown[1]);
    EXPECT_EQ("puser", shown[2]);
    EXPECT_EQ("ppass", shown[3]);
    EXPECT_EQ("host/dir/src/", shown[4]);
    EXPECT_EQ("suser", shown[5]);
    EXPECT_EQ("spass", shown[6]);
    EXPECT_STREQ("", dialog.proxyAddress);
    EXPECT_STREQ("", dialog.proxyPort);
    EXPECT_STREQ("", dialog.proxyUser);
    EXPECT_STREQ("", dialog.proxyPassword);
    EXPECT_STREQ("", dialog.siteUser);
    EXPECT_STREQ("", dialog.sitePassword);
    // The address is for display only.
    EXPECT_STREQ("host/dir/src/", dialog.address);
}

TEST(HttpSettingsDialogTest, EscapeAndCancelKeepTheFields) {
    HttpSettingsDialog dialog(nullptr, nullptr, nullptr, nullptr, "host/", nullptr, "u", nullptr);
    EXPECT_STREQ("", dialog.address);
    INT_PTR result = Answer(dialog, [](HWND w) {
        SetDlgItemTextA(w, 1012, "typed");
        PostMessageA(GetDlgItem(w, 1012), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(2, result);
    EXPECT_STREQ("u", dialog.siteUser);

    result = Answer(dialog, [](HWND w) {
        SetDlgItemTextA(w, 1005, "typed");
        PostMessageA(w, WM_COMMAND, 1009, 0);
    });
    EXPECT_EQ(1009, result);
    EXPECT_STREQ("", dialog.proxyAddress);
}

TEST(HttpSettingsDialogTest, LongTextsAreCut) {
    std::string longText(400, 'x');
    HttpSettingsDialog dialog(longText.c_str(), nullptr, nullptr, nullptr, longText.c_str(), longText.c_str(),
                              nullptr, nullptr);
    EXPECT_EQ(259u, strlen(dialog.proxyAddress));
    EXPECT_EQ(259u, strlen(dialog.address));
}

// In UTF-8 a name beyond the code page shows and comes back whole, and a
// field longer than its buffer is cut where a character begins.
TEST(HttpSettingsDialogTest, NamesBeyondTheCodePageComeBackWhole) {
    UseProgramCodePage();
    ASSERT_TRUE(TextsUtf8());
    const std::string user = "\xD0\x9F\xD1\x91\xD1\x82\xD1\x80";  // Cyrillic
    HttpSettingsDialog dialog("proxy", "3128", user.c_str(), "", "host/", "", "", "");
    std::string typed;
    for (int i = 0; i < 200; ++i) typed += "\xD0\xB4";
    std::string shown;
    INT_PTR result = Answer(dialog, [&](HWND w) {
        shown = Item(w, 1006);
        SetDlgItemTextA(w, 1012, typed.c_str());
        PostMessageA(w, WM_COMMAND, IDOK, 0);
    });
    SetTextsUtf8(false);
    EXPECT_EQ(1, result);
    EXPECT_EQ(user, shown);
    EXPECT_EQ(user, dialog.proxyUser);
    EXPECT_EQ(typed.substr(0, 258), dialog.siteUser);
}
