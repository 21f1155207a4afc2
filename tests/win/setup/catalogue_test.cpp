// The component catalogue against real setup descriptions, a real list
// view, registry class ids and DLLs with version resources.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/code_page_win.h"
#include "base/text_copy.h"
#include "setup/catalogue_win.h"
#include "setup/profile_win.h"
#include "setup_test_support.h"

using setuptest::ScratchDir;

namespace {

const char kPresentClsid[] = "{6A1D4C1E-3F0B-4C6E-9D77-C0A7A5E00001}";
const char kMissingClsid[] = "{6A1D4C1E-3F0B-4C6E-9D77-C0A7A5E0FFFF}";

std::string CellText(HWND list, int row, int column) {
    char text[1024] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int RowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

// A hidden dialog-like parent with a report-view list, bound to the catalogue.
class CatalogueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitCommonControls();
        HKEY key;
        std::string path = std::string("CLSID\\") + kPresentClsid;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("probe"), 6);
            RegCloseKey(key);
        }
    }
    static void TearDownTestSuite() {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kPresentClsid).c_str());
    }
    void SetUp() override {
        ClearProfileCache();
        parent = CreateWindowExA(0, "STATIC", "catalogue", WS_POPUP, 0, 0, 600, 300, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 0, 0, 500, 200, parent,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, list);
        ini = dir / "setup.inf";
        BindCatalogue(list, folder.path.c_str());
        InsertCatalogueColumns(list);  // sub-item texts need their columns
    }
    void TearDown() override {
        SetTextsUtf8(false);
        FreeComponents();
        DestroyWindow(parent);
        ClearProfileCache();
    }
    void Write(const std::string& text) { setuptest::WriteFile(ini, text); }
    Component* Add(const char* section) {
        if (!AddComponent(section, ini.c_str())) return nullptr;
        return GetRowComponent(RowCount(list) - 1);
    }

    ScratchDir dir{"catalogue"};
    ScratchDir folder{"catfolder"};
    std::string ini;
    HWND parent = nullptr;
    HWND list = nullptr;
};

}  // namespace

TEST_F(CatalogueTest, ColumnsTakeTheirTitlesAndShareOfTheWidth) {
    RECT client;
    GetClientRect(list, &client);
    const int width = client.right;
    const char* titles[] = {"Component", "Size", "Status"};
    const int perMille[] = {400, 150, 450};
    for (int i = 0; i < 3; ++i) {
        char title[100] = "";
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(titles[i], title);
        EXPECT_EQ(width * perMille[i] / 1000, column.cx);
        EXPECT_EQ(i == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT, column.fmt & LVCFMT_JUSTIFYMASK);
    }
}

TEST_F(CatalogueTest, RowsShowNameSizeAndStateAndIgnoredSectionsAreLeftOut) {
    Write("[S]\r\nKB=12\r\n"
          "[a]\r\nname=Alpha %KB%\r\nsize=340\r\nInstallOrder=7\r\n"
          "[b]\r\nname=Beta\r\nsize=%KB%\r\nenable=1\r\n"
          "[off]\r\nname=Off\r\nenable=0\r\n"
          "[noname]\r\nsize=5\r\n"
          "[" + std::string(72, 's') + "]\r\nname=Long\r\n");
    LoadSection("S", ini.c_str());
    Component* a = Add("a");
    ASSERT_NE(nullptr, a);
    EXPECT_STREQ("a", a->section);
    EXPECT_EQ(ini, a->infPath);
    EXPECT_EQ(folder.path, a->downloadFolder);
    EXPECT_EQ(340, a->sizeKB);
    EXPECT_EQ(100, a->displayOrder);
    EXPECT_EQ(7, a->installOrder);
    EXPECT_EQ(NeedDownload, a->state);
    ASSERT_NE(nullptr, Add("b"));
    EXPECT_EQ(nullptr, Add("off"));
    EXPECT_EQ(nullptr, Add("noname"));
    EXPECT_EQ(nullptr, Add("missing"));
    EXPECT_EQ(nullptr, Add(std::string(72, 's').c_str()));
    EXPECT_EQ(2, GetComponentCount());
    ASSERT_EQ(2, RowCount(list));
    EXPECT_EQ("Alpha 12", CellText(list, 0, 0));
    EXPECT_EQ("340KB", CellText(list, 0, 1));
    EXPECT_EQ("Need to download.", CellText(list, 0, 2));
    EXPECT_EQ("Beta", CellText(list, 1, 0));
    EXPECT_EQ("", CellText(list, 1, 1));  // an integer reference reads as 0
    EXPECT_EQ(nullptr, GetRowComponent(2));
    EXPECT_EQ(nullptr, GetRowComponent(-1));
}

TEST_F(CatalogueTest, ProtocolSpellingsAndSourceDirectories) {
    Write("[S]\r\nBase=" + dir.path + "\r\n"
          "[ftp]\r\nname=n\r\nProtocol=FTP\r\n"
          "[HTTPcaps]\r\nname=n\r\nProtocol=HTTP\r\n"
          "[http]\r\nname=n\r\nProtocol=http\r\n"
          "[copy]\r\nname=n\r\nprotocol=Copy\r\nsourcedir=%Base%\\src\r\n"
          "[cdrom]\r\nname=n\r\nProtocol=cdRom\r\n"
          "[plain]\r\nname=n\r\n"
          "[other]\r\nname=n\r\nProtocol=gopher\r\n");
    LoadSection("S", ini.c_str());
    const struct {
        const char* section;
        int protocol;
    } cases[] = {{"ftp", ProtocolFtp},       {"HTTPcaps", ProtocolSelfext}, {"http", ProtocolHttp},
                 {"copy", ProtocolCopy},     {"cdrom", ProtocolCdrom},      {"plain", ProtocolSelfext},
                 {"other", ProtocolSelfext}};
    for (const auto& c : cases) {
        Component* component = Add(c.section);
        ASSERT_NE(nullptr, component) << c.section;
        EXPECT_EQ(c.protocol, GetProtocol(component)) << c.section;
        char path[MAX_PATH];
        GetSourcePath(component, "f.cab", path, sizeof path);
        std::string expected;
        if (c.protocol == ProtocolCopy) {
            expected = dir.path + "\\src\\f.cab";
        } else if (c.protocol == ProtocolCdrom) {
            char program[MAX_PATH];
            GetModuleFileNameA(nullptr, program, sizeof program);
            expected = program;
            expected = expected.substr(0, expected.rfind('\\')) + "\\f.cab";
        } else {
            expected = folder.path + "\\f.cab";
        }
        EXPECT_EQ(expected, path) << c.section;
    }
    char small[6];
    GetSourceDirectory(GetRowComponent(0), small, sizeof small);
    EXPECT_EQ(folder.path.substr(0, 5), small);
}

TEST_F(CatalogueTest, FileVersionRulesAgainstRealLibraries) {
    // cvver421: file 4.21.0.0, product 6.0.0.0; cvver420: file 4.20.65535.65535,
    // product 4.21.0.0; cvverbig: file 40000.0.0.0; cvvernone: no version;
    // cvverpadded: as cvver421 in a resource of several kilobytes.
    const struct {
        const char* rule;
        bool installed;
    } cases[] = {
        {"cvver421.dll", true},
        {"cvver421.dll:#4.21", true},
        {"cvver421.dll:#4.21.0.1", false},
        {"cvver421.dll:#4.20.9", true},
        {"cvver421.dll:4.21", true},       // product 6.0
        {"cvver421.dll:6.0.0.1", false},
        {"cvver420.dll:#4.21", false},     // file 4.20.65535.65535
        {"cvver420.dll:4.21", true},       // product 4.21.0.0
        {"cvver420.dll:#4.20.65535.65535", true},
        {"cvverbig.dll:#4.21", true},      // high word above 0x7fff compared unsigned
        {"cvverbig.dll:#40001", false},
        {"cvvernone.dll", true},
        {"cvvernone.dll:1", false},        // no version information
        {"cvver421.dll cvvernone.dll", true},
        {"cvver421.dll,cvnowhere.dll", false},
        {"cvnowhere.dll:#1", false},
        {"cvverpadded.dll:#4.21", true},
        {"cvverpadded.dll:#4.21.0.1", false},
        {"cvverpadded.dll:6", true},
    };
    // The padded resource is larger than a small fixed block would take.
    char padded[MAX_PATH];
    ASSERT_NE(0u, SearchPathA(nullptr, "cvverpadded.dll", nullptr, sizeof padded, padded, nullptr));
    DWORD handle = 0;
    EXPECT_GT(GetFileVersionInfoSizeA(padded, &handle), 4096u);
    std::string text;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        text += "[c" + std::to_string(i) + "]\r\nname=n\r\nNoDownloadIfFilesExist=" +
                cases[i].rule + "\r\n";
    }
    Write(text);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Component* c = Add(("c" + std::to_string(i)).c_str());
        ASSERT_NE(nullptr, c);
        EXPECT_EQ(cases[i].installed ? 1 : 0, IsAlreadyInstalled(c)) << cases[i].rule;
        EXPECT_EQ(cases[i].installed ? AlreadyInstalled : NeedDownload, c->state) << cases[i].rule;
    }
}

TEST_F(CatalogueTest, ObjectAndFileListsMustBothPassWhenBothAreGiven) {
    const std::string present = kPresentClsid, missing = kMissingClsid;
    Write("[objOnly]\r\nname=n\r\nNoDownloadIfObjectsExist=" + present + "\r\n"
          "[objMissing]\r\nname=n\r\nNoDownloadIfObjectsExist=" + present + ", " + missing + "\r\n"
          "[bothPass]\r\nname=n\r\nNoDownloadIfObjectsExist=" + present +
          "\r\nNoDownloadIfFilesExist=cvver421.dll\r\n"
          "[filesFail]\r\nname=n\r\nNoDownloadIfObjectsExist=" + present +
          "\r\nNoDownloadIfFilesExist=cvnowhere.dll\r\n"
          "[objectsFail]\r\nname=n\r\nNoDownloadIfObjectsExist=" + missing +
          "\r\nNoDownloadIfFilesExist=cvver421.dll\r\n"
          "[neither]\r\nname=n\r\n");
    const struct {
        const char* section;
        int installed;
    } cases[] = {{"objOnly", 1},   {"objMissing", 0},  {"bothPass", 1},
                 {"filesFail", 0}, {"objectsFail", 0}, {"neither", 0}};
    for (const auto& c : cases) {
        Component* component = Add(c.section);
        ASSERT_NE(nullptr, component);
        EXPECT_EQ(c.installed, IsAlreadyInstalled(component)) << c.section;
    }
}

TEST_F(CatalogueTest, AClassWithALongDefaultValueIsRegistered) {
    const char longClsid[] = "{6A1D4C1E-3F0B-4C6E-9D77-C0A7A5E00002}";
    const std::string path = std::string("CLSID\\") + longClsid;
    const std::string value(600, 'x');
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    Write(std::string("[long]\r\nname=n\r\nNoDownloadIfObjectsExist=") + longClsid + ", " +
          kPresentClsid + "\r\n");
    Component* component = Add("long");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(AlreadyInstalled, component->state);
}

TEST_F(CatalogueTest, PresentFilesMakeTheComponentDownloaded) {
    setuptest::WriteFile(folder / "one.cab", "1");
    setuptest::WriteFile(folder / "two.cab", "2");
    CreateDirectoryA((folder / "adir").c_str(), nullptr);
    Write("[all]\r\nname=n\r\nfiles=one.cab, two.cab,adir\r\n"
          "[some]\r\nname=n\r\nfiles=one.cab,three.cab\r\n"
          "[none]\r\nname=n\r\nfiles= , \r\n"
          "[installed]\r\nname=n\r\nfiles=one.cab\r\nNoDownloadIfFilesExist=cvver421.dll\r\n");
    Component* all = Add("all");
    Component* some = Add("some");
    Component* none = Add("none");
    Component* installed = Add("installed");
    EXPECT_EQ(Downloaded, all->state);
    EXPECT_EQ("Has been downloaded.", CellText(list, 0, 2));
    EXPECT_EQ(NeedDownload, some->state);
    EXPECT_EQ(0, AreFilesPresent(none));
    EXPECT_EQ(NeedDownload, none->state);
    EXPECT_EQ(AlreadyInstalled, installed->state);
    EXPECT_EQ("Already installed", CellText(list, 3, 2));

    // Deciding again later never demotes a state.
    setuptest::WriteFile(folder / "three.cab", "3");
    DecideInitialState(some);
    EXPECT_EQ(Downloaded, some->state);
    some->state = InstallDone;
    DeleteFileA((folder / "three.cab").c_str());
    DecideInitialState(some);
    EXPECT_EQ(InstallDone, some->state);
}

TEST_F(CatalogueTest, SortByDisplayOrderKeepsAddingOrderForTies) {
    Write("[a]\r\nname=A\r\nDisplayOrder=30\r\n"
          "[b]\r\nname=B\r\nDisplayOrder=10\r\n"
          "[c]\r\nname=C\r\n"
          "[d]\r\nname=D\r\nDisplayOrder=10\r\n"
          "[e]\r\nname=E\r\nDisplayOrder=-2147483647\r\n"
          "[f]\r\nname=F\r\nDisplayOrder=2147483647\r\n");
    for (const char* s : {"a", "b", "c", "d", "e", "f"}) ASSERT_NE(nullptr, Add(s));
    SortComponents();
    const char* expected[] = {"E", "B", "D", "A", "C", "F"};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(expected[row], CellText(list, row, 0));
        Component* c = GetRowComponent(row);
        ASSERT_NE(nullptr, c);
        EXPECT_EQ(std::string(1, static_cast<char>(expected[row][0] + ('a' - 'A'))), c->section);
    }
}

TEST_F(CatalogueTest, RowStatesShowTheirTextsAndRecordsAreFreed) {
    Write("[a]\r\nname=A\r\n[b]\r\nname=B\r\n");
    ASSERT_NE(nullptr, Add("a"));
    ASSERT_NE(nullptr, Add("b"));
    const char* texts[] = {"Already installed", "Has been downloaded.", "Need to download.",
                           "Download error",    "Downloading...",       "Extracting files...",
                           "Installing...",     "Installation done."};
    for (int state = AlreadyInstalled; state <= InstallDone; ++state) {
        SetRowState(1, static_cast<ComponentState>(state));
        EXPECT_EQ(state, GetRowComponent(1)->state);
        EXPECT_EQ(texts[state], CellText(list, 1, 2));
        char buffer[100];
        GetStateText(GetRowComponent(1), GetModuleHandleA(nullptr), buffer, sizeof buffer);
        EXPECT_STREQ(texts[state], buffer);
    }
    SetCurrentRow(0);
    SetCurrentState(Downloading);
    EXPECT_EQ(Downloading, GetRowComponent(0)->state);
    EXPECT_EQ("Downloading...", CellText(list, 0, 2));
    SetRowState(5, DownloadError);  // no such row: nothing happens

    FreeComponents();
    EXPECT_EQ(nullptr, GetRowComponent(0));
    EXPECT_EQ(nullptr, GetRowComponent(1));
    EXPECT_EQ(0, GetComponentCount());
    FreeComponents();  // twice is harmless
}

// A name shows up to 199 characters in either code page: cut by bytes, 199
// accented letters in UTF-8 would be 99 and a half. The setup description
// is in the legacy code page.
TEST_F(CatalogueTest, NamesShowWholeAndCountCharacters) {
    Write("[a]\r\nname=Caf\xE9 \xDC" "ber\r\n[long]\r\nname=" + std::string(250, '\xE9') + "\r\n");
    UseProgramCodePage();
    ASSERT_TRUE(TextsUtf8());
    ASSERT_NE(nullptr, Add("a"));
    ASSERT_NE(nullptr, Add("long"));
    EXPECT_EQ("Caf\xC3\xA9 \xC3\x9C" "ber", CellText(list, 0, 0));
    std::string shown;
    for (int i = 0; i < 199; ++i) shown += "\xC3\xA9";
    EXPECT_EQ(shown, CellText(list, 1, 0));
}
