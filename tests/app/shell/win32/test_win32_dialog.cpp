// The Windows dialog of template 101 with its dialog procedure and the real
// core behind it, run under Wine: controls as the dialog manager lays them
// out, typing, pasting, program writes, mnemonics, Enter, Esc and the ways
// out. Messages are sent the way the dialog manager and the edit controls
// send them.
#include "shell/accessible_names.h"
#include "shell/dialog.h"
#include "shell/dialog_template.h"
#include "shell/win32/win32_window.h"
#include "shell/win32/win32_history.h"
#include "shell/history.h"
#include "calc.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <memory>
#include <string>
#include <vector>

namespace {


class Win32Dialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<win32_window>(GetModuleHandleA(nullptr));
        dialog = create_torvane_dialog(*window);
        ASSERT_NE(dialog, nullptr);
        ShowWindow(dialog, SW_SHOW);
        initial_status = text(IDC_STATUS);
        for (int id : field_list)
            initial_fields.push_back(text(id));
        // The registers outlive one dialog: start every test from zero.
        click(IDC_CLEAR_ALL);
    }
    void TearDown() override
    {
        if (IsWindow(dialog))
            DestroyWindow(dialog);
        pump();
    }

    HWND item(int id) { return GetDlgItem(dialog, id); }
    std::string text(int id)
    {
        std::vector<char> buffer(70000);
        const int n = GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
        return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    // A click, and the job it may start run to its end.
    void click(int id)
    {
        SendMessageA(item(id), BM_CLICK, 0, 0);
        settle();
    }
    void settle()
    {
        ASSERT_TRUE(pump_until([this] { return !window->busy(); }));
    }
    // Runs the message loop until `done` holds; false after 30 s without.
    template <class Done>
    bool pump_until(Done done)
    {
        for (int waited = 0; waited < 30000; waited += 5) {
            pump();
            if (done())
                return true;
            Sleep(5);
        }
        return false;
    }
    // Characters as the keyboard delivers them to the focused edit control.
    void type(int id, const std::string& characters)
    {
        SetFocus(item(id));
        for (const char c : characters)
            SendMessageA(item(id), WM_CHAR, static_cast<unsigned char>(c), 0);
    }
    void paste(int id, const std::string& clip)
    {
        ASSERT_TRUE(OpenClipboard(dialog));
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, clip.size() + 1);
        std::memcpy(GlobalLock(memory), clip.c_str(), clip.size() + 1);
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
        SetFocus(item(id));
        SendMessageA(item(id), WM_PASTE, 0, 0);
    }
    // A key press on the focused control, through the dialog manager's
    // keyboard handling, as a modal loop would do it.
    void press(WPARAM key, bool alt = false)
    {
        HWND focus = GetFocus();
        if (alt) {
            const auto character = static_cast<WPARAM>(key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key);
            PostMessageA(focus, WM_SYSKEYDOWN, VK_MENU, 1 << 29);
            PostMessageA(focus, WM_SYSKEYDOWN, key, 1 << 29);
            PostMessageA(focus, WM_SYSCHAR, character, 1 << 29);
            PostMessageA(focus, WM_SYSKEYUP, key, (1 << 29) | (1u << 30) | (1u << 31));
            PostMessageA(focus, WM_KEYUP, VK_MENU, (1u << 30) | (1u << 31));
        } else {
            // The key is down while its messages are handled, as it is for
            // a real key press.
            BYTE keys[256];
            GetKeyboardState(keys);
            keys[key] = 0x80;
            SetKeyboardState(keys);
            PostMessageA(focus, WM_KEYDOWN, key, 1);
            if (key == VK_RETURN || key == VK_ESCAPE)
                PostMessageA(focus, WM_CHAR, key, 1);
            pump();
            keys[key] = 0;
            SetKeyboardState(keys);
            PostMessageA(focus, WM_KEYUP, key, (1u << 30) | (1u << 31));
        }
        pump();
    }
    void pump()
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_TIMER)
                ++timer_ticks;
            if (IsWindow(dialog) && IsDialogMessageA(dialog, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    bool checked(int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

    std::unique_ptr<win32_window> window;
    HWND dialog = nullptr;
    int timer_ticks = 0;
    std::string initial_status;
    std::vector<std::string> initial_fields;
};

TEST_F(Win32Dialog, StartsIdleInBase16WithEmptyFieldsAndTheIcon)
{
    EXPECT_EQ(initial_status, "Idle...\n");
    for (const std::string& field : initial_fields)
        EXPECT_EQ(field, "");
    for (int id = IDC_BASE_2; id <= IDC_BASE_256; ++id)
        EXPECT_EQ(checked(id), id == IDC_BASE_16) << id;
    char title[64] = {};
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Torvane v1.14");
    EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), 0);
    for (int id : field_list)
        EXPECT_EQ(SendMessageA(item(id), EM_GETLIMITTEXT, 0, 0), 65531) << id;
}

TEST_F(Win32Dialog, TypingParsesTheFieldAndProgramWritesDoNot)
{
    type(IDC_FIELD_X, "1F");
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 5 y- 0 z- 0 a- 0 b- 0 ans- 0");
    type(IDC_FIELD_X, "g");
    EXPECT_EQ(text(IDC_FIELD_X), "1F");
    EXPECT_EQ(text(IDC_STATUS), "X: 'g' is not a base-16 digit.") << "the key dropped, with a hint";
    write_field_text(*window, IDC_FIELD_X, "7");
    EXPECT_EQ(text(IDC_STATUS), "X: 'g' is not a base-16 digit.");
    type(IDC_FIELD_Y, "3");
    click(IDC_OP_ADD);
    EXPECT_EQ(text(IDC_FIELD_ANS), "22");  // 1F + 3: X still holds what was typed
}

// The limit itself is 65531 (see the start test); a small one here keeps
// Wine's edit controls fast, the mechanism is the same. The status says
// when the field cut what was typed or pasted, after the parse of what it
// kept.
TEST_F(Win32Dialog, TypingAndPastingStopAtTheLimitProgramWritesDoNot)
{
    window->limit_field(IDC_FIELD_X, 10);
    write_field_text(*window, IDC_FIELD_X, "11111111");
    SendMessageA(item(IDC_FIELD_X), EM_SETSEL, 8, 8);
    type(IDC_FIELD_X, "2345");
    pump();
    EXPECT_EQ(text(IDC_FIELD_X), "1111111123");
    EXPECT_EQ(text(IDC_STATUS), "X unchanged: X takes at most 65531 characters.");
    window->limit_field(IDC_FIELD_Y, 10);
    paste(IDC_FIELD_Y, "ABCDEF0123456789");
    pump();
    EXPECT_EQ(text(IDC_FIELD_Y), "") << "a paste that does not fit is refused whole";
    EXPECT_EQ(text(IDC_STATUS), "Y unchanged: Y takes at most 65531 characters.");
    SendMessageA(item(IDC_FIELD_Y), EM_SETSEL, 0, -1);
    paste(IDC_FIELD_Y, "12");
    pump();
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 37 y- 5 z- 0 a- 0 b- 0 ans- 0") << "a paste that fits says nothing more";
    window->limit_field(IDC_FIELD_Z, 10);
    write_field_text(*window, IDC_FIELD_Z, "12345678901234567890");
    EXPECT_EQ(text(IDC_FIELD_Z), "12345678901234567890");
    for (int id : {IDC_FIELD_X, IDC_FIELD_Y, IDC_FIELD_Z})
        window->limit_field(id, 16384);
}

// A paste is one number or nothing: a stray character refuses it whole, the
// field keeping its text and value; separators and a prefix are dropped.
TEST_F(Win32Dialog, APasteWithAStrayCharacterIsRefusedWhole)
{
    click(IDC_BASE_10);
    click(IDC_CL_X);
    type(IDC_FIELD_X, "7");
    paste(IDC_FIELD_X, "1,000,000.00");
    EXPECT_EQ(text(IDC_FIELD_X), "7");
    EXPECT_EQ(text(IDC_STATUS), "X unchanged: ',' is not a base-10 digit.");
    SendMessageA(item(IDC_FIELD_X), EM_SETSEL, 0, -1);
    paste(IDC_FIELD_X, "  -1 000 000");
    EXPECT_EQ(text(IDC_FIELD_X), "-1000000");
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 20 y- 0 z- 0 a- 0 b- 0 ans- 0");
    click(IDC_BASE_16);
    click(IDC_CL_Y);
    paste(IDC_FIELD_Y, "0x1F");
    EXPECT_EQ(text(IDC_FIELD_Y), "1F");
    click(IDC_OP_ADD);
    EXPECT_EQ(text(IDC_FIELD_ANS), "-F4221");
}

// The program rewrites the field after dropping characters; the caret stays
// where the typing left it, less what was dropped before it.
TEST_F(Win32Dialog, TheCaretStaysWhereTheTypingLeftIt)
{
    click(IDC_BASE_10);
    click(IDC_CL_X);
    type(IDC_FIELD_X, "12a34");
    EXPECT_EQ(text(IDC_FIELD_X), "1234");
    // "-" typed after the 0 a base switch shows is the sign.
    SetFocus(item(IDC_FIELD_Y));
    SendMessageA(item(IDC_FIELD_Y), EM_SETSEL, 1, 1);
    type(IDC_FIELD_Y, "-987654321");
    EXPECT_EQ(text(IDC_FIELD_Y), "-987654321");
    // A "-" that stops being the sign goes from behind the caret.
    write_field_text(*window, IDC_FIELD_A, "-5");
    SetFocus(item(IDC_FIELD_A));
    SendMessageA(item(IDC_FIELD_A), EM_SETSEL, 0, 0);
    type(IDC_FIELD_A, "12");
    EXPECT_EQ(text(IDC_FIELD_A), "125");
}

// Grown, the window gives the value fields the room, by the template's
// stretch rule; it never gets smaller than at the start.
TEST_F(Win32Dialog, ResizingStretchesTheValueFields)
{
    const auto rect_of = [&](HWND control) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return pixel_rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    // The template's controls come first, then the expression row; the
    // history's follow them.
    const std::size_t laid_out = dialog_controls.size() + expression_row.size();
    std::vector<pixel_rect> at_start;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr && at_start.size() < laid_out;
         child = GetWindow(child, GW_HWNDNEXT))
        at_start.push_back(rect_of(child));
    ASSERT_EQ(at_start.size(), laid_out);
    RECT window_rect;
    GetWindowRect(dialog, &window_rect);
    const int width = window_rect.right - window_rect.left;
    const int height = window_rect.bottom - window_rect.top;
    MINMAXINFO limits = {};
    SendMessageA(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, width);
    EXPECT_EQ(limits.ptMinTrackSize.y, height);

    SetWindowPos(dialog, nullptr, 0, 0, width + 100, height + 120, SWP_NOMOVE | SWP_NOZORDER);
    pump();
    std::size_t i = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr && i < laid_out;
         child = GetWindow(child, GW_HWNDNEXT), ++i) {
        SCOPED_TRACE("control #" + std::to_string(i));
        if (i < dialog_controls.size())
            EXPECT_EQ(rect_of(child), stretched(dialog_controls[i], at_start[i], 100, 120));
        else
            EXPECT_EQ(rect_of(child), stretched_row(expression_row[i - dialog_controls.size()], at_start[i], 100, 120));
    }
    EXPECT_EQ(rect_of(item(IDC_FIELD_X)).height, at_start[1].height + 20);
    EXPECT_EQ(rect_of(item(IDC_STATUS)).y, at_start[34].y + 120);
}

// Ctrl+A selects the whole text of every field, the read-only ones too,
// and types nothing; what is typed next replaces the selection.
TEST_F(Win32Dialog, CtrlASelectsAllOfAField)
{
    type(IDC_FIELD_X, "1F");
    for (int id : {IDC_FIELD_Y, IDC_FIELD_Z, IDC_FIELD_A, IDC_FIELD_B})
        type(id, "ABC");
    click(IDC_OP_ADD);
    std::vector<int> fields(std::begin(field_list), std::end(field_list));
    fields.push_back(IDC_STATUS);
    for (int id : fields) {
        SCOPED_TRACE("field " + std::to_string(id));
        const std::string before = text(id);
        ASSERT_GT(before.size(), 1u);
        SetFocus(item(id));
        SendMessageA(item(id), EM_SETSEL, 1, 1);
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        PostMessageA(item(id), WM_KEYDOWN, 'A', 1);
        pump();
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        PostMessageA(item(id), WM_KEYUP, 'A', (1u << 30) | (1u << 31));
        pump();
        DWORD start = 99;
        DWORD end = 0;
        SendMessageA(item(id), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, before.size());
        EXPECT_EQ(text(id), before);
    }
    type(IDC_FIELD_X, "7");
    EXPECT_EQ(text(IDC_FIELD_X), "7");
    EXPECT_EQ(text(IDC_STATUS).rfind("Bits: x- 3 ", 0), 0u) << text(IDC_STATUS);
}

// Moved to a monitor of 144 DPI, the dialog is laid out again for it: a
// font made for that DPI, every control about half as large again, the
// window where Windows suggests; back at 96 DPI, every control is where
// the dialog manager first put it.
TEST_F(Win32Dialog, ADpiChangeLaysTheDialogOutAgain)
{
    const auto rect_of = [&](HWND control) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return pixel_rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    const auto layout = [&] {
        std::vector<pixel_rect> rects;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            rects.push_back(rect_of(child));
        return rects;
    };
    const auto font_height = [&](HWND w) {
        LOGFONTA font = {};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font.lfHeight;
    };
    const auto least_size = [&] {
        MINMAXINFO limits = {};
        SendMessageA(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        return limits.ptMinTrackSize;
    };
    ASSERT_EQ(window->dpi(), 96u) << "the test's prefix is at 96 DPI";
    const std::vector<pixel_rect> at_96 = layout();
    RECT frame;
    GetWindowRect(dialog, &frame);
    RECT client;
    GetClientRect(dialog, &client);
    const POINT least = least_size();
    ASSERT_EQ(font_height(dialog), -12);

    RECT suggested = {frame.left, frame.top, frame.left + (frame.right - frame.left) * 3 / 2,
                      frame.top + (frame.bottom - frame.top) * 3 / 2};
    SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    pump();
    EXPECT_EQ(window->dpi(), 144u);
    EXPECT_EQ(font_height(item(IDC_FIELD_X)), -18);
    EXPECT_EQ(font_height(item(IDC_OP_ADD)), -18);
    const auto about_half_again = [](long large, long small) {
        return large * 100 >= small * 135 && large * 100 <= small * 165;
    };
    RECT grown;
    GetClientRect(dialog, &grown);
    EXPECT_TRUE(about_half_again(grown.right, client.right)) << grown.right << " from " << client.right;
    EXPECT_TRUE(about_half_again(grown.bottom, client.bottom)) << grown.bottom << " from " << client.bottom;
    EXPECT_TRUE(about_half_again(least_size().x, least.x));
    EXPECT_TRUE(about_half_again(least_size().y, least.y));
    const std::vector<pixel_rect> at_144 = layout();
    ASSERT_EQ(at_144.size(), at_96.size());
    for (std::size_t i = 0; i < at_96.size(); ++i) {
        SCOPED_TRACE("control #" + std::to_string(i));
        // Small sizes are rounded too much to compare.
        const pixel_rect& a = at_96[i];
        const pixel_rect& b = at_144[i];
        EXPECT_TRUE(a.width < 20 || about_half_again(b.width, a.width)) << a.width << " -> " << b.width;
        EXPECT_TRUE(a.height < 20 || about_half_again(b.height, a.height)) << a.height << " -> " << b.height;
        EXPECT_TRUE(a.x < 20 || about_half_again(b.x, a.x)) << a.x << " -> " << b.x;
        EXPECT_TRUE(a.y < 20 || about_half_again(b.y, a.y)) << a.y << " -> " << b.y;
    }

    SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&frame));
    pump();
    EXPECT_EQ(window->dpi(), 96u);
    EXPECT_EQ(font_height(item(IDC_FIELD_X)), -12);
    EXPECT_EQ(layout(), at_96);
    EXPECT_EQ(least_size().x, least.x);
    EXPECT_EQ(least_size().y, least.y);
}

TEST_F(Win32Dialog, EveryOperationButtonHasItsTooltip)
{
    struct found {
        HWND dialog;
        HWND tips;
    } search = {dialog, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<found*>(data);
            char name[64] = {};
            GetClassNameA(w, name, sizeof name);
            // The tooltips of the operation buttons (the history's
            // controls have their own).
            TOOLINFOA probe = {};
            probe.cbSize = TTTOOLINFOA_V1_SIZE;
            probe.hwnd = s->dialog;
            probe.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(s->dialog, IDC_OP_ADD));
            if (GetWindow(w, GW_OWNER) == s->dialog && std::strcmp(name, TOOLTIPS_CLASSA) == 0
                && SendMessageA(w, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&probe)) != 0)
                s->tips = w;
            return s->tips == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    ASSERT_NE(search.tips, nullptr);
    EXPECT_EQ(SendMessageA(search.tips, TTM_GETTOOLCOUNT, 0, 0), 15);
    for (const operation_tooltip& tip : operation_tooltips) {
        char text_buffer[128] = {};
        TOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        tool.hwnd = dialog;
        tool.uId = reinterpret_cast<UINT_PTR>(item(tip.id));
        tool.lpszText = text_buffer;
        SendMessageA(search.tips, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(text_buffer, tip.text) << tip.id;
    }
}

TEST_F(Win32Dialog, MnemonicsPressTheirButtonsAndRadioButtonsSwitchTheBase)
{
    type(IDC_FIELD_X, "C");
    type(IDC_FIELD_Y, "12");
    press('G', true);
    settle();
    EXPECT_EQ(text(IDC_FIELD_ANS), "6");
    EXPECT_EQ(text(IDC_FIELD_B), "24");
    click(IDC_BASE_10);
    EXPECT_TRUE(checked(IDC_BASE_10));
    EXPECT_FALSE(checked(IDC_BASE_16));
    const std::vector<std::string> decimal = {"12", "18", "0", "0", "36", "6"};
    for (std::size_t i = 0; i < decimal.size(); ++i)
        EXPECT_EQ(text(field_list[i]), decimal[i]) << field_list[i];
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 4 y- 5 z- 0 a- 0 b- 6 ans- 3");
}

TEST_F(Win32Dialog, EnterAndEscapeDoNothing)
{
    type(IDC_FIELD_X, "A");
    const std::string status = text(IDC_STATUS);
    for (int id : {IDC_FIELD_X, IDC_OP_ADD}) {
        SetFocus(item(id));
        press(VK_RETURN);
        press(VK_ESCAPE);
    }
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(text(IDC_FIELD_X), "A");
    EXPECT_EQ(text(IDC_FIELD_ANS), "");
    EXPECT_EQ(text(IDC_STATUS), status);
}

// X^Y MOD Z with a 32768-bit odd modulus and an 8000-bit exponent runs for
// seconds.
TEST_F(Win32Dialog, ALongJobKeepsTheWindowAliveRefusesInputAndStopsAtEscape)
{
    paste(IDC_FIELD_X, std::string(8192, 'C'));
    paste(IDC_FIELD_Y, std::string(2000, '9'));
    paste(IDC_FIELD_Z, std::string(8191, 'E') + "1");
    click(IDC_OP_MUL);
    std::vector<std::string> before;
    for (int id : field_list)
        before.push_back(text(id));
    ASSERT_NE(before.back(), "");

    const UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
    timer_ticks = 0;
    SendMessageA(item(IDC_OP_POWMOD), BM_CLICK, 0, 0);
    ASSERT_TRUE(window->busy());
    ASSERT_TRUE(pump_until([this] { return text(IDC_STATUS).rfind("Working... ", 0) == 0; }));
    KillTimer(nullptr, timer);
    EXPECT_GT(timer_ticks, 0) << "the message loop ran while the job did";
    ASSERT_TRUE(window->busy());

    // Input is refused: typing, CL, a base and an operation.
    type(IDC_FIELD_X, "1");
    SendMessageA(item(IDC_CL_Z), BM_CLICK, 0, 0);
    SendMessageA(item(IDC_BASE_10), BM_CLICK, 0, 0);
    SendMessageA(item(IDC_OP_ADD), BM_CLICK, 0, 0);
    pump();
    EXPECT_TRUE(checked(IDC_BASE_16));
    EXPECT_FALSE(checked(IDC_BASE_10));
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(text(field_list[i]), before[i]) << field_list[i];
    // The buttons the job refuses look disabled; About and Exit stay live.
    for (int id : {IDC_OP_ADD, IDC_OP_POWMOD, IDC_CL_Z, IDC_BASE_10, IDC_TO_X, IDC_CLEAR_ALL})
        EXPECT_FALSE(IsWindowEnabled(item(id))) << id;
    EXPECT_TRUE(IsWindowEnabled(item(IDC_ABOUT)));
    EXPECT_TRUE(IsWindowEnabled(item(IDC_EXIT)));

    SetFocus(item(IDC_FIELD_X));
    press(VK_ESCAPE);
    ASSERT_TRUE(pump_until([this] { return text(IDC_STATUS) == "Cancelled."; }));
    EXPECT_FALSE(window->busy());
    EXPECT_TRUE(IsWindowEnabled(item(IDC_OP_POWMOD)));
    EXPECT_TRUE(IsWindowVisible(dialog));
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(text(field_list[i]), before[i]) << field_list[i];
    type(IDC_FIELD_A, "5");
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 32768 y- 8000 z- 32768 a- 3 b- 0 ans- 40767");
    // The next job runs as ever.
    click(IDC_BASE_10);
    EXPECT_EQ(text(IDC_FIELD_A), "5");
    EXPECT_TRUE(checked(IDC_BASE_10));
}

// Each way out is tried in a child process.
TEST_F(Win32Dialog, ExitAndTheCloseBoxEndTheDialog)
{
    EXPECT_EXIT(
        {
            click(IDC_EXIT);
            std::_Exit(IsWindowVisible(dialog) ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            std::_Exit(IsWindowVisible(dialog) ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    // And while a job runs.
    EXPECT_EXIT(
        {
            paste(IDC_FIELD_X, std::string(8192, 'C'));
            paste(IDC_FIELD_Y, std::string(2000, '9'));
            paste(IDC_FIELD_Z, std::string(8191, 'E') + "1");
            SendMessageA(item(IDC_OP_POWMOD), BM_CLICK, 0, 0);
            const bool running = window->busy();
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            std::_Exit(running && !IsWindowVisible(dialog) && !window->busy() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The dialog manager's own layout of template 101 against the table the Qt
// window is built from: order, class, caption, style and rectangle.
TEST_F(Win32Dialog, HistoryPanelListsAnswersRecallsAndUndoes)
{
    type(IDC_FIELD_X, "1F");
    type(IDC_FIELD_Y, "3");
    click(IDC_OP_ADD);
    click(IDC_OP_MUL);
    HWND list = item(IDC_HISTORY_LIST);
    EXPECT_FALSE(IsWindowVisible(list));
    RECT narrow;
    GetWindowRect(dialog, &narrow);
    click(IDC_HISTORY_TOGGLE);
    ASSERT_TRUE(IsWindowVisible(list));
    RECT wide;
    GetWindowRect(dialog, &wide);
    EXPECT_EQ(wide.right - wide.left, narrow.right - narrow.left + history_panel_pixels());
    EXPECT_EQ(GetFocus(), list);
    ASSERT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 2);
    char line[256] = {};
    SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, "1 X+Y: X=1F Y=3 -> Ans=22 [base 16]");
    SendMessageA(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, "2 X*Y: X=1F Y=3 -> Ans=5D [base 16]");
    // The label before the list names it; the template's controls keep
    // their places, the panel is beside them.
    char name[64] = {};
    GetWindowTextA(GetWindow(list, GW_HWNDPREV), name, sizeof name);
    EXPECT_STREQ(name, "Hi&story");
    GetWindowTextA(item(IDC_RECALL), name, sizeof name);
    EXPECT_STREQ(name, "Reca&ll entry");
    RECT field;
    RECT panel;
    GetWindowRect(item(IDC_FIELD_X), &field);
    GetWindowRect(list, &panel);
    EXPECT_LE(field.right, panel.left);

    // Enter on an entry recalls it, in the base shown now.
    click(IDC_BASE_10);
    click(IDC_CL_X);
    SetFocus(list);
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    press(VK_RETURN);
    EXPECT_EQ(text(IDC_FIELD_X), "31");
    EXPECT_EQ(text(IDC_FIELD_ANS), "34");
    EXPECT_EQ(text(IDC_STATUS), "Entry 1 recalled: X+Y.");
    // Alt+U undoes the recall, Alt+R redoes it: the mnemonic's one
    // WM_SYSCHAR through the dialog manager.
    const auto mnemonic = [&](char key) {
        MSG message = {GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(key), 1 << 29, 0, {}};
        EXPECT_TRUE(IsDialogMessageA(dialog, &message));
        pump();
    };
    mnemonic('u');
    EXPECT_EQ(text(IDC_STATUS), "Undone: recall of entry 1.");
    EXPECT_EQ(text(IDC_FIELD_X), "");
    EXPECT_EQ(text(IDC_FIELD_ANS), "93");
    mnemonic('r');
    EXPECT_EQ(text(IDC_FIELD_X), "31");
    // A double click recalls too.
    SendMessageA(list, LB_SETCURSEL, 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_HISTORY_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(text(IDC_FIELD_ANS), "93");
    // Undo goes back through the recalls, CL and the base switch.
    for (int k = 0; k < 4; ++k)
        click(IDC_UNDO);
    EXPECT_EQ(text(IDC_FIELD_X), "1F");
    EXPECT_TRUE(checked(IDC_BASE_16));

    click(IDC_HISTORY_TOGGLE);
    EXPECT_FALSE(IsWindowVisible(list));
    GetWindowRect(dialog, &wide);
    EXPECT_EQ(wide.right - wide.left, narrow.right - narrow.left);
}

TEST_F(Win32Dialog, CopyInBaseMenuAndValueTooltip)
{
    type(IDC_FIELD_X, "FF");
    HMENU menu = make_field_menu(item(IDC_FIELD_X));
    HMENU copy = nullptr;
    for (int k = 0; k < GetMenuItemCount(menu); ++k) {
        char entry[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(k), entry, sizeof entry, MF_BYPOSITION);
        if (std::strcmp(entry, "Copy in &base") == 0)
            copy = GetSubMenu(menu, k);
    }
    ASSERT_NE(copy, nullptr);
    std::vector<std::string> bases;
    for (int k = 0; k < GetMenuItemCount(copy); ++k) {
        char entry[16] = {};
        GetMenuStringA(copy, static_cast<UINT>(k), entry, sizeof entry, MF_BYPOSITION);
        bases.push_back(entry);
    }
    EXPECT_EQ(bases, (std::vector<std::string>{"2", "8", "10", "16", "36", "60", "64", "256"}));
    DestroyMenu(menu);
    const auto copied = [&](int base) {
        run_field_menu_command(*window, item(IDC_FIELD_X), copy_in_base_command(base));
        std::string clip;
        if (OpenClipboard(dialog)) {
            if (HANDLE data = GetClipboardData(CF_TEXT)) {
                clip = static_cast<const char*>(GlobalLock(data));
                GlobalUnlock(data);
            }
            CloseClipboard();
        }
        return clip;
    };
    EXPECT_EQ(copied(10), "255");
    EXPECT_EQ(copied(2), "11111111");
    EXPECT_EQ(copied(64), "/w");
    EXPECT_EQ(text(IDC_FIELD_X), "FF") << "the window's base stays";
    EXPECT_TRUE(checked(IDC_BASE_16));

    // The field's tooltip asks the dialog for its text.
    struct found {
        HWND dialog;
        HWND field;
        HWND tips;
    } search = {dialog, item(IDC_FIELD_X), nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<found*>(data);
            TOOLINFOA probe = {};
            probe.cbSize = TTTOOLINFOA_V1_SIZE;
            probe.hwnd = s->dialog;
            probe.uId = reinterpret_cast<UINT_PTR>(s->field);
            if (GetWindow(w, GW_OWNER) == s->dialog && SendMessageA(w, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&probe)) != 0)
                s->tips = w;
            return s->tips == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    ASSERT_NE(search.tips, nullptr);
    NMTTDISPINFOA info = {};
    info.hdr.hwndFrom = search.tips;
    info.hdr.idFrom = reinterpret_cast<UINT_PTR>(item(IDC_FIELD_X));
    info.hdr.code = TTN_GETDISPINFOA;
    SendMessageA(dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    ASSERT_NE(info.lpszText, nullptr);
    EXPECT_STREQ(info.lpszText, "X = 255\nX = 0xFF\n8 bits");
}

TEST_F(Win32Dialog, ControlsMatchTheTemplate)
{
    // The template's size, and the expression line's row below it.
    RECT size = {0, 0, dialog_width_units, dialog_height_units + 16};
    MapDialogRect(dialog, &size);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "Courier New");

    HWND child = GetWindow(dialog, GW_CHILD);
    for (std::size_t i = 0; i < dialog_controls.size(); ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const template_control& c = dialog_controls[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(c.id));
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), c.id);
        // Each of x, y, width and height is converted on its own.
        RECT want = {c.x, c.y, c.width, c.height};
        MapDialogRect(dialog, &want);
        RECT got;
        GetWindowRect(child, &got);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.top, want.top);
        if (c.kind != control_kind::label || got.right - got.left == want.right) {
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.right - got.left, want.right);
            EXPECT_EQ(got.bottom - got.top, want.bottom);
        } else {
            // A label too narrow for its caption takes the room beside it:
            // leftwards no further than the inside of the frame around the
            // fields, and over no other control.
            RECT frame = {};
            for (const template_control& box : dialog_controls)
                if (frames_the_fields(box))
                    frame.left = box.x;
            MapDialogRect(dialog, &frame);
            EXPECT_LE(got.left, want.left);
            EXPECT_GE(got.left, frame.left + 2);
            EXPECT_GT(got.right - got.left, want.right);
            for (HWND other = GetWindow(dialog, GW_CHILD); other != nullptr; other = GetWindow(other, GW_HWNDNEXT)) {
                RECT r;
                GetWindowRect(other, &r);
                MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
                char other_class[16] = {};
                GetClassNameA(other, other_class, sizeof other_class);
                const bool frame_box = std::strcmp(other_class, "Button") == 0
                                       && (GetWindowLongA(other, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
                RECT common;
                EXPECT_TRUE(other == child || frame_box || !IntersectRect(&common, &got, &r))
                    << "overlaps control " << GetDlgCtrlID(other);
            }
        }
        char class_name[32] = {};
        GetClassNameA(child, class_name, sizeof class_name);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        const LONG ex_style = GetWindowLongA(child, GWL_EXSTYLE);
        // The button control keeps the tab stop of a radio group on its
        // checked button (the template gives all of them one).
        if (c.kind != control_kind::auto_radio) {
            EXPECT_EQ((style & WS_TABSTOP) != 0, c.tab_stop);
        } else {
            EXPECT_EQ((style & WS_TABSTOP) != 0, c.id == IDC_BASE_16);
        }
        EXPECT_EQ((ex_style & WS_EX_STATICEDGE) != 0, c.static_edge);
        char caption[64] = {};
        GetWindowTextA(child, caption, sizeof caption);
        const bool edit = c.kind == control_kind::field_edit || c.kind == control_kind::answer_edit
                          || c.kind == control_kind::status_edit;
        if (!edit) {
            EXPECT_STREQ(caption, c.caption);
        }
        switch (c.kind) {
        case control_kind::label:
            EXPECT_STREQ(class_name, "Static");
            break;
        case control_kind::field_edit:
        case control_kind::answer_edit:
            EXPECT_STREQ(class_name, "Edit");
            EXPECT_NE(style & ES_MULTILINE, 0);
            EXPECT_NE(style & WS_VSCROLL, 0);
            EXPECT_EQ((style & ES_READONLY) != 0, c.kind == control_kind::answer_edit);
            break;
        case control_kind::status_edit:
            EXPECT_STREQ(class_name, "Edit");
            EXPECT_EQ(style & ES_MULTILINE, 0);
            EXPECT_NE(style & ES_READONLY, 0);
            EXPECT_NE(style & ES_AUTOHSCROLL, 0);
            break;
        case control_kind::group_box:
            EXPECT_STREQ(class_name, "Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
            break;
        case control_kind::auto_radio:
            EXPECT_STREQ(class_name, "Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
            break;
        case control_kind::push_button:
        case control_kind::flat_button:
            EXPECT_STREQ(class_name, "Button");
            EXPECT_EQ((style & BS_FLAT) != 0, c.kind == control_kind::flat_button);
            break;
        }
    }
    // After the template's controls, the expression row: its label, then
    // the line, a tab stop that the user types into.
    ASSERT_NE(child, nullptr);
    char label[32] = {};
    GetWindowTextA(child, label, sizeof label);
    EXPECT_STREQ(label, "Expression");
    child = GetWindow(child, GW_HWNDNEXT);
    ASSERT_EQ(child, item(IDC_EXPRESSION));
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    EXPECT_NE(style & WS_TABSTOP, 0);
    EXPECT_EQ(style & (ES_MULTILINE | ES_READONLY), 0);
    RECT want = {46, 268, 273, 12};
    MapDialogRect(dialog, &want);
    RECT got;
    GetWindowRect(child, &got);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right - got.left, want.right);
    EXPECT_EQ(got.bottom - got.top, want.bottom);
    // Then the history's controls, in tab order after the line.
    std::vector<int> beside;
    for (child = GetWindow(child, GW_HWNDNEXT); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        beside.push_back(static_cast<short>(GetDlgCtrlID(child)));
    EXPECT_EQ(beside, (std::vector<int>{IDC_UNDO, IDC_REDO, IDC_HISTORY_TOGGLE, -1, IDC_HISTORY_LIST, IDC_RECALL}));
}

// The name a screen reader reads for a control: its accessible object's.
std::string accessible_name_of_control(HWND control)
{
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))
        || object == nullptr)
        return "<no accessible object>";
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string result;
    if (SUCCEEDED(object->get_accName(self, &name)) && name != nullptr) {
        for (const OLECHAR* c = name; *c != 0; ++c)
            result += static_cast<char>(*c < 128 ? *c : '?');
        SysFreeString(name);
    }
    object->Release();
    return result;
}

std::vector<std::pair<DWORD, HWND>> status_events;

void CALLBACK on_status_event(HWINEVENTHOOK, DWORD event, HWND control, LONG object, LONG child, DWORD, DWORD)
{
    if (object == OBJID_CLIENT && child == CHILDID_SELF && GetDlgCtrlID(control) == IDC_STATUS)
        status_events.emplace_back(event, control);
}

// Every field and button has a name for screen readers (the table's where
// it has one), no two buttons share one, and a new status line raises the
// status field's value-change event.
TEST_F(Win32Dialog, ScreenReadersGetEveryControlsNameAndHearTheStatus)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    for (const accessible_name& n : accessible_names)
        EXPECT_EQ(accessible_name_of_control(item(n.id)), n.name);
    char caption[8] = {};
    GetWindowTextA(item(IDC_CL_ANS), caption, sizeof caption);
    EXPECT_STREQ(caption, "CL");

    // Any field or button of the window, the template's and any other.
    std::map<std::string, int> button_names;
    int fields = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char class_name[32] = {};
        GetClassNameA(child, class_name, sizeof class_name);
        const std::string kind = class_name;
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        const bool button = kind == "Button" && (style & BS_TYPEMASK) != BS_GROUPBOX;
        const bool field = kind == "Edit" || kind == "ListBox" || kind == "ComboBox" || kind == "SysListView32"
                           || kind == "SysTreeView32" || kind.rfind("RichEdit", 0) == 0 || kind == "RICHEDIT50W";
        if (!button && !field)
            continue;
        const std::string name = accessible_name_of_control(child);
        EXPECT_FALSE(name.empty()) << kind << " " << GetDlgCtrlID(child);
        if (button)
            ++button_names[name];
        else
            ++fields;
    }
    EXPECT_GE(fields, 7);
    EXPECT_GE(button_names.size(), 33u);
    for (const auto& [name, count] : button_names)
        EXPECT_EQ(count, 1) << "buttons named \"" << name << "\"";

    // The value change, and the live region's change that Narrator and
    // NVDA speak.
    constexpr DWORD live_region_changed = 0x8019;
    status_events.clear();
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, live_region_changed, nullptr,
                                               on_status_event, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    type(IDC_FIELD_X, "1F");
    const auto heard = [](DWORD event) {
        return std::any_of(status_events.begin(), status_events.end(),
                           [event](const std::pair<DWORD, HWND>& e) { return e.first == event; });
    };
    EXPECT_TRUE(pump_until([&] { return heard(EVENT_OBJECT_VALUECHANGE) && heard(live_region_changed); }));
    UnhookWinEvent(hook);
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 5 y- 0 z- 0 a- 0 b- 0 ans- 0");
    CoUninitialize();
}

// Enter in the expression line evaluates it into Ans or the register it
// names; an error names its column and changes nothing.
TEST_F(Win32Dialog, EnterEvaluatesTheExpressionLine)
{
    type(IDC_EXPRESSION, "2^44497-1");
    press(VK_RETURN);
    ASSERT_TRUE(pump_until([this] { return !window->busy(); }));
    std::string mersenne(11125, 'F');  // 2^44497 - 1 in hexadecimal
    mersenne[0] = '1';
    EXPECT_EQ(text(IDC_FIELD_ANS), mersenne);
    EXPECT_EQ(text(IDC_STATUS), "Bits: x- 0 y- 0 z- 0 a- 0 b- 0 ans- 44497");
    SetWindowTextA(item(IDC_EXPRESSION), "Y = gcd(12, 18)");
    press(VK_RETURN);
    ASSERT_TRUE(pump_until([this] { return !window->busy(); }));
    EXPECT_EQ(text(IDC_FIELD_Y), "6");
    SetWindowTextA(item(IDC_EXPRESSION), "2 + q");
    press(VK_RETURN);
    ASSERT_TRUE(pump_until([this] { return !window->busy(); }));
    EXPECT_EQ(text(IDC_STATUS), "Expression: unknown name 'q' at column 5");
    EXPECT_EQ(text(IDC_FIELD_Y), "6");
    // A character beyond the code page is named by its own code point.
    SetWindowTextW(item(IDC_EXPRESSION), L"1 + \u20AC");
    press(VK_RETURN);
    ASSERT_TRUE(pump_until([this] { return !window->busy(); }));
    EXPECT_EQ(text(IDC_STATUS), "Expression: unexpected U+20AC at column 5");
}

}  // namespace
