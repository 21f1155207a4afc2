// cvdialogs: shows one of the program's dialog templates with sample
// contents, as the program would at the display's DPI, and checks its
// layout there: every control inside the dialog, no two controls on top of
// each other, every text fits its control. Built with the program's own
// resources (manifest included), so the dialog is the program's.
//
//   cvdialogs OUT ID     writes the findings to OUT, then shows the dialog
//                        until it is closed (WM_CLOSE)
//
// OUT gets "dpi=N", "size=W H" (the dialog's window in pixels), one line
// "problem: ..." per fault found, and "done" last.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../../src/resources/resource.h"

namespace {

std::vector<std::string> problems;

void Problem(const char* format, int id, const char* text) {
    char line[600];
    std::snprintf(line, sizeof line, format, id, text);
    problems.push_back(line);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        DestroyWindow(hwnd);
        PostQuitMessage(0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

std::string ClassOf(HWND control) {
    char name[64] = "";
    GetClassNameA(control, name, sizeof name);
    return name;
}

std::string TextOf(HWND control) {
    char text[600] = "";
    GetWindowTextA(control, text, sizeof text);
    return text;
}

// Extent of a text in the control's own font, wrapped to `width` when it
// is not zero.
SIZE Measure(HWND control, const std::string& text, int width) {
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT r = {0, 0, width > 0 ? width : 10000, 0};
    DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    SIZE s = {r.right - r.left, r.bottom - r.top};
    return s;
}

struct Placed {
    HWND hwnd;
    int id;
    RECT rect;  // in the dialog's client coordinates
    bool group;
};

BOOL CALLBACK Collect(HWND child, LPARAM list) {
    Placed p;
    p.hwnd = child;
    p.id = GetDlgCtrlID(child);
    GetWindowRect(child, &p.rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&p.rect), 2);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    p.group = ClassOf(child) == "Button" && (style & BS_TYPEMASK) == BS_GROUPBOX;
    // Only the dialog's own controls (a list view's header is its child).
    if (GetParent(child) == GetAncestor(child, GA_ROOT))
        reinterpret_cast<std::vector<Placed>*>(list)->push_back(p);
    return TRUE;
}

void CheckLayout(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    std::vector<Placed> controls;
    EnumChildWindows(dialog, Collect, reinterpret_cast<LPARAM>(&controls));
    for (const Placed& c : controls) {
        const std::string text = TextOf(c.hwnd);
        if (c.rect.left < 0 || c.rect.top < 0 || c.rect.right > client.right ||
            c.rect.bottom > client.bottom)
            Problem("problem: control %d (%s) reaches outside the dialog", c.id, text.c_str());
        const int width = c.rect.right - c.rect.left;
        const int height = c.rect.bottom - c.rect.top;
        const std::string cls = ClassOf(c.hwnd);
        if (text.empty()) continue;
        if (cls == "Static") {
            SIZE s = Measure(c.hwnd, text, width);
            if (s.cy > height || s.cx > width)
                Problem("problem: text of %d does not fit: %s", c.id, text.c_str());
        } else if (cls == "Button") {
            // A push button needs its text and a frame on each side.
            SIZE s = Measure(c.hwnd, text, 0);
            const int frame = c.group ? 2 * GetSystemMetrics(SM_CXEDGE)
                                      : 4 * GetSystemMetrics(SM_CXEDGE);
            if (s.cx + frame > width || (!c.group && s.cy > height))
                Problem("problem: button %d is too small for %s", c.id, text.c_str());
        }
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (controls[i].group || controls[j].group) continue;
            RECT both;
            if (IntersectRect(&both, &controls[i].rect, &controls[j].rect)) {
                char pair[64];
                std::snprintf(pair, sizeof pair, "%d", controls[j].id);
                Problem("problem: controls %d and %s overlap", controls[i].id, pair);
            }
        }
    }
}

// The download dialog as it looks while a file arrives.
void FillDownloadDialog(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_COMPONENT_LIST);
    const UINT titles[] = {IDS_COLUMN_COMPONENT, IDS_COLUMN_SIZE, IDS_COLUMN_STATUS};
    const int perMille[] = {400, 150, 450};
    RECT r;
    GetClientRect(list, &r);
    for (int i = 0; i < 3; ++i) {
        char title[100] = "";
        LoadStringA(GetModuleHandleA(nullptr), titles[i], title, sizeof title);
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = i == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = (r.right - r.left) * perMille[i] / 1000;
        column.pszText = title;
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    const char* rows[][3] = {{"Quorrin client setup", "158KB", "Has been downloaded."},
                             {"Quorrin client data", "384KB", "Downloading..."}};
    for (int row = 0; row < 2; ++row) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<char*>(rows[row][0]);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        for (int sub = 1; sub < 3; ++sub) {
            item.iSubItem = sub;
            item.pszText = const_cast<char*>(rows[row][sub]);
            SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        }
    }
    SetDlgItemTextA(dialog, IDC_STATUS, "Downloading file 'quorrin-data.bin' (160K of 384K)...");
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 41, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cvdialogs OUT ID\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const int id = std::atoi(argv[2]);
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                     DialogProc, 0);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) return 1;
    if (!dialog) {
        std::fprintf(out, "problem: no dialog %d\ndone\n", id);
        std::fclose(out);
        return 1;
    }
    if (id == IDD_DOWNLOAD) FillDownloadDialog(dialog);
    if (id == IDD_HTTP_SETTINGS) SetDlgItemTextA(dialog, IDC_SITE_ADDRESS, "downloads.example.com");
    RECT window;
    GetWindowRect(dialog, &window);
    // Centred on the screen, as the program places its dialogs.
    const int w = window.right - window.left, h = window.bottom - window.top;
    SetWindowPos(dialog, HWND_TOP, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(dialog);
    CheckLayout(dialog);
    HDC screen = GetDC(nullptr);
    std::fprintf(out, "dpi=%d\nsize=%d %d\n", GetDeviceCaps(screen, LOGPIXELSY), w, h);
    ReleaseDC(nullptr, screen);
    for (const std::string& p : problems) std::fprintf(out, "%s\n", p.c_str());
    std::fprintf(out, "done\n");
    std::fclose(out);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return problems.empty() ? 0 : 1;
}
