// The dialog templates of the built setup program, read back from its
// resources and held against one table, so a template change cannot slip by.
#include "resources/resource_ids.h"

#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ControlRow {
    int Id;
    const char* Class;
    const char* Text; // "#n" for a resource number (a bitmap)
    short X, Y, Width, Height;
    DWORD Style;
};

struct TemplateRow {
    int Id;
    DWORD Style;
    short Width, Height;
    const char* Caption;
    std::vector<ControlRow> Controls;
};

// What every control of a template has unless the row says NOT WS_VISIBLE.
const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kText = kChild | WS_GROUP | SS_LEFT;
// A text given a style of its own has no WS_GROUP (the resource compiler adds
// it only to a plain LTEXT).
const DWORD kStyledText = kChild | SS_LEFT;
const DWORD kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
const DWORD kGroupBox = kChild | BS_GROUPBOX;
const DWORD kPicture = kChild | SS_BITMAP;
// Pages carry DS_CONTROL on purpose: Tab and the dialog keys then move
// between the frame's buttons and the page's controls as one dialog.
const DWORD kPage = DS_SETFONT | DS_CONTROL | WS_CHILD;

const TemplateRow kTemplates[] = {
    {IDD_WIZARD_FRAME,
     DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
     283,
     190,
     "安装向导",
     {
         // WS_CLIPSIBLINGS on purpose: the white band lies beneath the title,
         // subtitle and picture and must not paint over them.
         {IDC_HEADER_BAND, "Static", "Static", 0, 0, 282, 31, kStyledText | WS_CLIPSIBLINGS},
         {IDC_HEADER_SEPARATOR, "Static", "Static", 0, 31, 283, 1, kStyledText | SS_SUNKEN},
         {IDOK, "Button", "下一步", 164, 172, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
         {IDC_HEADER_SUBTITLE, "Static", "Static", 102, 17, 154, 8, kText},
         {IDC_HEADER_TITLE, "Static", "请选择安装位置", 93, 5, 86, 8, kText},
         {-1, "Static", "#124", 0, 0, 83, 31, kPicture},
         {IDCANCEL, "Button", "取消", 220, 172, 50, 14, kPush},
         {-1, "Static", "Static", 0, 167, 283, 1, kStyledText | SS_SUNKEN},
         {IDC_BACK, "Button", "上一步", 107, 172, 50, 14, kPush & ~WS_VISIBLE},
     }},
    {IDD_WELCOME,
     kPage,
     284,
     167,
     "",
     {
         {-1, "Static", "#109", 0, 0, 94, 168, kPicture},
         {IDC_WELCOME_CAPTION, "Static", "欢迎", 106, 12, 168, 30, kText},
         {-1, "Static", "点击【下一步】 继续。", 106, 138, 168, 10, kText},
         {-1, "Static",
          "在开始安装之前，建议先关闭其他所有应用程序。这将允许“安装程序”更新指定的系统文件，而不需"
          "要重启电脑。",
          106, 80, 168, 40, kText},
         {IDC_WELCOME_INTRO, "Static", "", 106, 50, 168, 22, kText},
     }},
    {IDD_LOCATION,
     kPage,
     285,
     135,
     "",
     {
         {IDC_INSTALL_DIR, "Edit", "", 20, 50, 186, 14,
          kChild | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY},
         {IDC_LOCATION_TEXT, "Static", "选择安装位置", 12, 6, 262, 28, kText},
         {-1, "Button", "目标文件夹", 10, 37, 265, 34, kGroupBox},
         {IDC_REQUIRED_SPACE, "Static", "所需空间：", 12, 110, 262, 9, kText},
         {IDC_AVAILABLE_SPACE, "Static", "可用空间：", 12, 122, 262, 9, kText},
         {-1, "Button", "选择安装内容", 10, 75, 265, 30, kGroupBox},
         {IDC_SERVER_BOX, "Button", "服务器（）", 20, 88, 100, 10, kCheck},
         {IDC_CLIENT_BOX, "Button", "客户端（）", 140, 88, 100, 10, kCheck},
         {IDC_BROWSE, "Button", "浏览(B)", 214, 50, 52, 14, kPush},
     }},
    {IDD_OPTIONS,
     kPage,
     285,
     135,
     "",
     {
         {-1, "Button", "附加快捷方式", 10, 6, 265, 56, kGroupBox},
         {-1, "Button", "卸载程序", 10, 68, 265, 61, kGroupBox},
         {IDC_DESKTOP_BOX, "Button", "创建【桌面】快捷方式", 20, 19, 245, 10, kCheck},
         {IDC_QUICKSTART_BOX, "Button", "创建【快速启动栏】快捷方式", 20, 33, 245, 10, kCheck},
         {IDC_STARTMENU_BOX, "Button", "创建【开始菜单】快捷方式（软件卸载）", 20, 47, 245, 10,
          kCheck | WS_DISABLED},
         {IDC_PROGRAMMG_BOX, "Button", "在Windows的“程序管理”里创建本软件的卸载程序", 20, 81, 245,
          10, kCheck},
         {-1, "Static",
          "提示：如果不想创建卸载程序，而当您以后想删除本软件时，请直接删除在上一页中指定的安装本软"
          "件的目标文件夹即可",
          20, 97, 245, 27, kText},
     }},
    {IDD_CONFIRM,
     kPage,
     285,
     135,
     "",
     {
         {IDC_LOG_LIST, "ListBox", "", 10, 20, 265, 108,
          kChild | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL | WS_BORDER},
         {-1, "Static", "以下是本次安装内容", 10, 8, 265, 9, kText},
     }},
    {IDD_INSTALLING,
     kPage,
     285,
     135,
     "",
     {
         {IDC_PROGRESS, "msctls_progress32", "Progress1", 10, 22, 265, 12, kChild | WS_BORDER},
         {IDC_LOG_LIST, "ListBox", "", 10, 40, 265, 88,
          kChild | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER},
         // No word wrap on purpose: a long status line is cut at the edge
         // instead of wrapping out of its one-line box.
         {IDC_STATUS_LINE, "Static", "文件详细", 10, 8, 265, 9, kStyledText | SS_LEFTNOWORDWRAP},
     }},
    {IDD_FINISH,
     kPage,
     284,
     167,
     "",
     {
         {-1, "Static", "#109", 0, 0, 94, 168, kPicture},
         {IDC_FINISH_TEXT, "Static", "澜枢软件v2.0.0.1已安装完成。", 106, 12, 168, 70, kText},
         {IDC_FINISH_EXTRA, "Static", "", 106, 90, 168, 40, kText},
     }},
};

// Reads a DLGTEMPLATEEX: little-endian words, strings in UTF-16.
class TemplateReader {
  public:
    TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Ok() const { return ok_; }
    uint16_t Word() {
        uint16_t value = 0;
        Take(&value, 2);
        return value;
    }
    uint32_t Dword() {
        uint32_t value = 0;
        Take(&value, 4);
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    // A string or a resource number ("#n"); "" for none.
    std::string StringOrNumber() {
        uint16_t first = Word();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::wstring text;
        for (uint16_t c = first; ok_ && c != 0; c = Word())
            text.push_back(static_cast<wchar_t>(c));
        return Gbk(text);
    }
    void AlignDword() { at_ = (at_ + 3) & ~size_t(3); }
    void Skip(size_t n) { at_ += n; }

  private:
    void Take(void* out, size_t n) {
        if (at_ + n > size_) {
            ok_ = false;
            return;
        }
        memcpy(out, data_ + at_, n);
        at_ += n;
    }
    static std::string Gbk(const std::wstring& text) {
        if (text.empty())
            return "";
        int n = WideCharToMultiByte(936, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(n, '\0');
        WideCharToMultiByte(936, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
        out.resize(n - 1);
        return out;
    }
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool ok_ = true;
};

// Class names compare without case, as the system does; numbered classes
// get their names.
std::string ClassName(const std::string& raw) {
    static const char* const kOrdinals[] = {"Button",  "Edit",      "Static",
                                            "ListBox", "ScrollBar", "ComboBox"};
    if (raw.size() > 1 && raw[0] == '#') {
        int ordinal = atoi(raw.c_str() + 1);
        if (ordinal >= 0x80 && ordinal <= 0x85)
            return ClassName(kOrdinals[ordinal - 0x80]);
    }
    std::string upper = raw;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string Hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

void CheckTemplates(const std::string& exePath) {
    HMODULE module = LoadLibraryExA(exePath.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module) << exePath << " error " << GetLastError();
    for (const TemplateRow& row : kTemplates) {
        SCOPED_TRACE("template " + std::to_string(row.Id));
        LPCSTR name = MAKEINTRESOURCEA(row.Id);
        std::vector<WORD> languages;
        EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, name, CountLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<WORD>{MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)},
                  languages);
        HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(5));
        ASSERT_NE(nullptr, found);
        const uint8_t* data =
            static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
        TemplateReader in(data, SizeofResource(module, found));

        ASSERT_EQ(1, in.Word());      // version
        ASSERT_EQ(0xFFFF, in.Word()); // extended template
        in.Dword();                   // help id
        EXPECT_EQ(0u, in.Dword());    // extended style
        DWORD style = in.Dword();
        EXPECT_EQ(Hex(row.Style), Hex(style));
        uint16_t count = in.Word();
        short x = in.Short(), y = in.Short(), width = in.Short(), height = in.Short();
        EXPECT_EQ(0, x);
        EXPECT_EQ(0, y);
        EXPECT_EQ(row.Width, width);
        EXPECT_EQ(row.Height, height);
        EXPECT_EQ("", in.StringOrNumber()); // menu
        EXPECT_EQ("", in.StringOrNumber()); // class
        EXPECT_EQ(row.Caption, in.StringOrNumber());
        ASSERT_TRUE(style & DS_SETFONT);
        EXPECT_EQ(9, in.Word());           // points
        EXPECT_EQ(FW_DONTCARE, in.Word()); // weight
        in.Word();                         // italic, character set
        EXPECT_EQ("Tahoma", in.StringOrNumber());

        ASSERT_EQ(row.Controls.size(), count);
        for (const ControlRow& want : row.Controls) {
            SCOPED_TRACE("control " + std::to_string(want.Id) + " " + want.Text);
            in.AlignDword();
            in.Dword();                // help id
            EXPECT_EQ(0u, in.Dword()); // extended style
            DWORD controlStyle = in.Dword();
            short cx = in.Short(), cy = in.Short(), cw = in.Short(), ch = in.Short();
            int id = static_cast<int>(in.Dword());
            std::string className = ClassName(in.StringOrNumber());
            std::string text = in.StringOrNumber();
            in.Skip(in.Word()); // creation data
            ASSERT_TRUE(in.Ok());
            EXPECT_EQ(want.Id, id);
            EXPECT_EQ(ClassName(want.Class), className);
            EXPECT_EQ(want.Text, text);
            EXPECT_EQ(Hex(want.Style), Hex(controlStyle));
            EXPECT_EQ((std::vector<short>{want.X, want.Y, want.Width, want.Height}),
                      (std::vector<short>{cx, cy, cw, ch}));
        }
    }
    FreeLibrary(module);
}

TEST(DialogTemplates, TestedProgramMatchesTheTable) {
    CheckTemplates(BinPath("setup.exe"));
}

// The 32-bit product is built from the same script; where this machine
// tests a 64-bit twin, the product's own file is read too.
TEST(DialogTemplates, ShippedProgramMatchesTheTable) {
    std::string product = std::string(TEST_BIN_DIR) + "\\..\\..\\i686\\bin\\setup.exe";
    if (BinPath("setup.exe") == product || !PathExists(product) ||
        std::string(TEST_BIN_DIR).find("\\i686\\") != std::string::npos)
        GTEST_SKIP() << "the 32-bit product is the tested program or was not built";
    CheckTemplates(product);
}

} // namespace
