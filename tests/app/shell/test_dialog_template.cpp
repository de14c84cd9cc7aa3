// The dialog template table against the Windows resource script that
// describes the same dialog, so the Qt window and the Windows dialog show the
// same controls; and the dialog-unit conversion both windows rely on.
#include "shell/accessible_names.h"
#include "shell/dialog_template.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The #define NAME number lines of resource.h.
std::map<std::string, int> resource_ids()
{
    std::map<std::string, int> ids{{"IDC_STATIC", -1}};
    std::istringstream in(read_file(TORVANE_SOURCE_DIR "/resources/resource.h"));
    std::string word, name;
    int value = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> word >> name >> value && word == "#define")
            ids[name] = value;
    }
    return ids;
}

// One statement's arguments, split at commas outside quoted strings, with
// the strings' escapes resolved.
std::vector<std::string> split_arguments(const std::string& text)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) {
            const char e = text[++i];
            out.back() += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        } else if (c == '"') {
            quoted = !quoted;
            out.back() += c;
        } else if (c == ',' && !quoted) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    for (auto& argument : out)
        argument = trim(argument);
    return out;
}

std::string unquote(const std::string& s)
{
    return s.size() >= 2 && s.front() == '"' && s.back() == '"' ? s.substr(1, s.size() - 2) : s;
}

// The style words of one style argument, "NOT X" kept as "NOT X".
std::set<std::string> style_words(const std::string& style)
{
    std::set<std::string> words;
    std::istringstream in(style);
    std::string word;
    bool negate = false;
    while (in >> word) {
        if (word == "|")
            continue;
        if (word == "NOT") {
            negate = true;
            continue;
        }
        words.insert(negate ? "NOT " + word : word);
        negate = false;
    }
    return words;
}

struct rc_control {
    std::string statement;
    std::string caption;
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::set<std::string> style;
    std::set<std::string> ex_style;
    std::string window_class;
};

struct rc_dialog {
    std::string header, style, caption, font;
    std::vector<rc_control> controls;
};

rc_dialog parse_resource_script()
{
    const std::map<std::string, int> ids = resource_ids();
    const auto id_of = [&](const std::string& name) {
        const auto found = ids.find(name);
        if (found != ids.end())
            return found->second;
        ADD_FAILURE() << "unknown id " << name;
        return -2;
    };
    rc_dialog dialog;
    std::istringstream in(read_file(TORVANE_SOURCE_DIR "/resources/torvane.rc"));
    bool in_body = false;
    for (std::string raw; std::getline(in, raw);) {
        const std::string line = trim(raw);
        if (line.find("DIALOGEX") != std::string::npos)
            dialog.header = line;
        else if (line.rfind("STYLE ", 0) == 0)
            dialog.style = line.substr(6);
        else if (line.rfind("CAPTION ", 0) == 0)
            dialog.caption = unquote(trim(line.substr(8)));
        else if (line.rfind("FONT ", 0) == 0)
            dialog.font = line.substr(5);
        else if (line == "BEGIN")
            in_body = true;
        else if (line == "END")
            in_body = false;
        else if (in_body && !line.empty()) {
            rc_control c;
            const auto space = line.find(' ');
            c.statement = line.substr(0, space);
            std::vector<std::string> a = split_arguments(line.substr(space + 1));
            if (c.statement == "EDITTEXT")
                a.insert(a.begin(), "\"\"");
            if (c.statement == "CONTROL") {
                // CONTROL caption, id, class, style, x, y, w, h [, ex-style]
                EXPECT_GE(a.size(), 8u) << line;
                if (a.size() < 8)
                    continue;
                c.window_class = unquote(a[2]);
                c.style = style_words(a[3]);
                a.erase(a.begin() + 2, a.begin() + 4);
                if (a.size() > 6)
                    c.ex_style = style_words(a[6]);
            } else {
                if (a.size() > 6)
                    c.style = style_words(a[6]);
                if (a.size() > 7)
                    c.ex_style = style_words(a[7]);
            }
            EXPECT_GE(a.size(), 6u) << line;
            if (a.size() < 6)
                continue;
            c.caption = unquote(a[0]);
            c.id = id_of(a[1]);
            c.x = std::stoi(a[2]);
            c.y = std::stoi(a[3]);
            c.width = std::stoi(a[4]);
            c.height = std::stoi(a[5]);
            dialog.controls.push_back(c);
        }
    }
    return dialog;
}

control_kind kind_of(const rc_control& c)
{
    const auto has = [&](const char* word) { return c.style.count(word) > 0; };
    if (c.statement == "LTEXT")
        return control_kind::label;
    if (c.statement == "GROUPBOX")
        return control_kind::group_box;
    if (c.statement == "CONTROL" && c.window_class == "Button" && has("BS_AUTORADIOBUTTON"))
        return control_kind::auto_radio;
    if (c.statement == "PUSHBUTTON")
        return has("BS_FLAT") ? control_kind::flat_button : control_kind::push_button;
    if (c.statement == "EDITTEXT") {
        if (has("ES_MULTILINE")) {
            EXPECT_TRUE(has("ES_AUTOVSCROLL") && has("WS_VSCROLL")) << c.id;
            return has("ES_READONLY") ? control_kind::answer_edit : control_kind::field_edit;
        }
        EXPECT_TRUE(has("ES_READONLY") && has("ES_AUTOHSCROLL")) << c.id;
        return control_kind::status_edit;
    }
    ADD_FAILURE() << "unexpected statement " << c.statement;
    return control_kind::label;
}

// Whether the statement puts the control into the tab order: edits and push
// buttons are tab stops unless told otherwise, CONTROL only when told.
bool tab_stop_of(const rc_control& c)
{
    if (c.statement == "EDITTEXT" || c.statement == "PUSHBUTTON")
        return c.style.count("NOT WS_TABSTOP") == 0;
    if (c.statement == "CONTROL")
        return c.style.count("WS_TABSTOP") > 0;
    return false;
}

TEST(DialogTemplate, ResourceScriptHeaderMatchesTheTable)
{
    const rc_dialog rc = parse_resource_script();
    EXPECT_EQ(rc.header, "IDD_TORVANE DIALOGEX 0, 0, " + std::to_string(dialog_width_units) + ", "
                             + std::to_string(dialog_height_units));
    EXPECT_EQ(rc.caption, dialog_title);
    EXPECT_EQ(split_arguments(rc.font)[0], std::to_string(dialog_font_points));
    EXPECT_EQ(unquote(split_arguments(rc.font)[1]), dialog_font_face);
    const std::set<std::string> style = style_words(rc.style);
    for (const char* word : {"DS_MODALFRAME", "DS_CENTER", "WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "WS_MINIMIZEBOX"})
        EXPECT_EQ(style.count(word), 1u) << word;
    // Resizable, from the template's size up (the layer sets the least size).
    EXPECT_EQ(style.count("WS_THICKFRAME"), 1u);
    EXPECT_EQ(style.count("WS_MAXIMIZEBOX"), 0u);
}

// A window grown by 60 x 120 pixels (at Courier's 7 x 14 base units): the
// six fields, stacked as before, take all of it; what sits beside a field
// moves with it; what sits below moves down by all of it; the rest stays.
TEST(DialogTemplate, AGrownWindowGivesTheValueFieldsAllTheRoom)
{
    const dialog_base_units units = base_units_from_font(374, 14);
    const auto at = [&](const template_control& c) { return to_pixels(c.x, c.y, c.width, c.height, units); };
    const auto grown = [&](const template_control& c) { return stretched(c, at(c), 60, 120); };
    int bottom_before = 0;
    int bottom_after = 0;
    for (int id : {IDC_FIELD_X, IDC_FIELD_Y, IDC_FIELD_Z, IDC_FIELD_A, IDC_FIELD_B, IDC_FIELD_ANS}) {
        const pixel_rect before = at(template_entry(id));
        const pixel_rect after = grown(template_entry(id));
        SCOPED_TRACE(id);
        EXPECT_EQ(after.x, before.x);
        EXPECT_EQ(after.width, before.width + 60);
        EXPECT_EQ(after.height, before.height + 20);
        if (id != IDC_FIELD_X) {
            EXPECT_EQ(after.y - bottom_after, before.y - bottom_before) << "the same gap to the field above";
        }
        bottom_before = before.y + before.height;
        bottom_after = after.y + after.height;
    }
    for (const template_control& c : dialog_controls) {
        SCOPED_TRACE(c.caption);
        const pixel_rect before = at(c);
        const pixel_rect after = grown(c);
        if (c.id == IDC_CL_Y || c.id == IDC_CLEAR_ALL || c.id == IDC_CL_ANS || c.id == IDC_TO_X
            || (c.kind == control_kind::label && c.caption == std::string("A\n"))) {
            const int row = c.id == IDC_CL_Y ? 1 : c.id == IDC_CLEAR_ALL ? 0 : c.kind == control_kind::label ? 3 : 5;
            EXPECT_EQ(after, (pixel_rect{before.x, before.y + 20 * row, before.width, before.height}));
        }
        if (c.id == IDC_STATUS || c.id == IDC_EXIT || c.kind == control_kind::auto_radio || c.id == IDC_OP_ADD) {
            EXPECT_EQ(after, (pixel_rect{before.x, before.y + 120, before.width, before.height}));
        }
        if (c.kind == control_kind::group_box && c.y == 6) {  // the frame of the fields
            EXPECT_EQ(after, (pixel_rect{before.x, before.y, before.width + 60, before.height + 120}));
        }
        if (c.kind == control_kind::group_box && c.y == 190) {  // the frame of the operation buttons
            EXPECT_EQ(after, (pixel_rect{before.x, before.y + 120, before.width + 60, before.height}));
        }
        if (c.kind == control_kind::group_box && c.y == 227) {  // the frame of the base buttons
            EXPECT_EQ(after, (pixel_rect{before.x, before.y + 120, before.width, before.height}));
        }
    }
    // A window never shrinks below the template: smaller counts as its size.
    for (const template_control& c : dialog_controls)
        EXPECT_EQ(stretched(c, at(c), -10, -10), at(c));
}

TEST(DialogTemplate, EveryOperationButtonAndOnlyThoseHaveATooltip)
{
    int with_tooltip = 0;
    for (const template_control& c : dialog_controls) {
        const bool operation = c.id >= IDC_OP_ADD && c.id <= IDC_OP_PRIME;
        EXPECT_EQ(tooltip_of(c.id) != nullptr, operation) << c.id;
        with_tooltip += tooltip_of(c.id) != nullptr;
    }
    EXPECT_EQ(with_tooltip, 15);
    EXPECT_STREQ(tooltip_of(IDC_OP_DIV), "Ans = X / Y truncated; B = remainder");
}

TEST(DialogTemplate, ResourceScriptHasEveryControlOfTheTableInOrder)
{
    const rc_dialog rc = parse_resource_script();
    ASSERT_EQ(rc.controls.size(), dialog_controls.size());
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        const template_control& want = dialog_controls[i];
        const rc_control& got = rc.controls[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(kind_of(got), want.kind);
        EXPECT_EQ(got.caption, want.caption);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(tab_stop_of(got), want.tab_stop);
        EXPECT_EQ(got.ex_style.count("WS_EX_STATICEDGE") == 1, want.static_edge);
        if (got.statement == "EDITTEXT") {
            EXPECT_EQ(got.style.count("ES_OEMCONVERT"), 1u);
        }
    }
}

TEST(DialogTemplate, IdsAndMnemonicsAreUnambiguous)
{
    std::set<int> ids;
    std::set<char> mnemonics;
    int outside_tab_order = 0;
    for (const template_control& c : dialog_controls) {
        if (c.id != static_control_id) {
            EXPECT_TRUE(ids.insert(c.id).second) << "id " << c.id << " twice";
        }
        const std::string caption = c.caption;
        const auto amp = caption.find('&');
        if (amp != std::string::npos) {
            ASSERT_LT(amp + 1, caption.size());
            EXPECT_EQ(caption.find('&', amp + 1), std::string::npos) << caption;
            const char key = static_cast<char>(std::toupper(static_cast<unsigned char>(caption[amp + 1])));
            EXPECT_TRUE(mnemonics.insert(key).second) << "mnemonic " << key << " twice";
        }
        if (in_tab_order(c.kind) && !c.tab_stop) {
            ++outside_tab_order;
            EXPECT_EQ(c.id, IDC_OP_POWER_SUM);
        }
    }
    EXPECT_EQ(ids.size(), 40u);
    EXPECT_EQ(mnemonics.size(), 19u);
    EXPECT_EQ(outside_tab_order, 1);
}

TEST(DialogTemplate, DialogUnitsConvertLikeADialogManager)
{
    // 9 pt Courier New at 96 dpi: 52 letters are 374 pixels, cells 14 high.
    const dialog_base_units courier = base_units_from_font(374, 14);
    EXPECT_EQ(courier.x, 7);
    EXPECT_EQ(courier.y, 14);
    EXPECT_EQ(to_pixels(dialog_width_units, dialog_height_units, 1, 1, courier), (pixel_rect{571, 467, 2, 2}));
    // 8 pt MS Sans Serif: 6 x 13 base units; a 50 x 14 unit button is 75 x 23.
    const dialog_base_units sans = base_units_from_font(6 * 52 - 5, 13);
    EXPECT_EQ(sans.x, 6);
    EXPECT_EQ(to_pixels(2, 3, 50, 14, sans), (pixel_rect{3, 5, 75, 23}));
    // Halves round away from zero, on either side.
    EXPECT_EQ(mul_div_rounded(1, 7, 2), 4);
    EXPECT_EQ(mul_div_rounded(-1, 7, 2), -4);
    EXPECT_EQ(mul_div_rounded(5, 7, 4), 9);
}

// Every named control exists, and the status line's progress is announced
// at its first share and then seldom; anything else at once.
TEST(AccessibleNames, NameControlsOfTheTemplateAndThrottleOnlyProgress)
{
    for (const accessible_name& n : accessible_names)
        EXPECT_EQ(template_entry(n.id).id, n.id) << n.name;

    using namespace std::chrono_literals;
    status_announcer announcer;
    const auto t = status_announcer::clock::time_point{} + 100s;
    EXPECT_TRUE(announcer.should_announce("Working... 0.0%", t));
    EXPECT_FALSE(announcer.should_announce("Working... 12.5%", t + 1s));
    EXPECT_FALSE(announcer.should_announce("Working... 40.0%", t + 4900ms));
    EXPECT_TRUE(announcer.should_announce("Working... 41.0%", t + 5s));
    EXPECT_FALSE(announcer.should_announce("Working... 50.0%", t + 6s));
    EXPECT_TRUE(announcer.should_announce("Cancelled.", t + 6100ms));
    EXPECT_TRUE(announcer.should_announce("Bits: x- 4 y- 0 z- 0 a- 0 b- 0 ans- 0", t + 6200ms));
    EXPECT_TRUE(announcer.should_announce("Bits: x- 5 y- 0 z- 0 a- 0 b- 0 ans- 0", t + 6300ms));
    // The next job's first share is heard, however soon it comes.
    EXPECT_TRUE(announcer.should_announce("Working... 1.0%", t + 6400ms));
}

}  // namespace
