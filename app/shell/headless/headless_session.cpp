#include "headless_session.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "base_table.h"
#include "dialog.h"
#include "history.h"
#include "resource.h"
#include "utf8.h"
#include "value_fields.h"

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_shown_control(int id) { return value_field_index(id) >= 0 || id == IDC_STATUS || id == IDC_EXPRESSION; }

bool is_radio_button(int id) { return find_base_by_radio(id) != nullptr; }

bool is_button(int id) {
    return id == IDC_ABOUT || id == IDC_EXIT || is_radio_button(id) || (id >= IDC_OP_ADD && id <= IDC_OP_PRIME) ||
           id == IDC_CLEAR_ALL || field_of_clear_button(id) != 0 || id == IDC_TO_X;
}

// Reads one line without its line end (a line feed, or a carriage return
// and a line feed). False at end of input when nothing was read.
bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

// The names a script may use beside the numeric control ids; those of the
// value fields and their CL buttons are in value_fields, those of the base
// radio buttons in the base table.
struct control_name {
    const char* name;
    int id;
};
constexpr control_name control_names[] = {
    {"status", IDC_STATUS},      {"about", IDC_ABOUT},        {"exit", IDC_EXIT},
    {"add", IDC_OP_ADD},
    {"sub", IDC_OP_SUB},         {"mul", IDC_OP_MUL},         {"div", IDC_OP_DIV},
    {"power", IDC_OP_POWER},     {"root", IDC_OP_ROOT},       {"moddiv", IDC_OP_MODDIV},
    {"powmod", IDC_OP_POWMOD},   {"linmod", IDC_OP_LINEAR_MOD}, {"powmod2", IDC_OP_POWMOD2},
    {"factorial", IDC_OP_FACTORIAL}, {"gcd", IDC_OP_GCD},     {"product", IDC_OP_PRODUCT},
    {"powsum", IDC_OP_POWER_SUM}, {"prime", IDC_OP_PRIME},    {"clearall", IDC_CLEAR_ALL},
    {"tox", IDC_TO_X},           {"expression", IDC_EXPRESSION},
};

bool same_name(std::string_view a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Parses a control at the start of `text`: an id of one to five decimal
// digits or a control's name (in any case), ended by a blank or the end;
// `used` receives the number of characters taken.
bool parse_id(std::string_view text, int& id, std::size_t& used) {
    used = 0;
    id = 0;
    while (used < text.size() && text[used] >= '0' && text[used] <= '9' && used < 5) {
        id = id * 10 + (text[used] - '0');
        ++used;
    }
    if (used > 0) return used == text.size() || text[used] < '0' || text[used] > '9';
    const std::string_view word = text.substr(0, text.find(' '));
    const auto found = [&](int control) {
        id = control;
        used = word.size();
        return true;
    };
    for (const value_field& f : value_fields) {
        if (same_name(word, f.name)) return found(f.id);
        if (same_name(word, f.clear_name)) return found(f.clear_button);
    }
    for (const base_entry& b : base_table)
        if (same_name(word, b.script_name)) return found(b.radio_id);
    for (const control_name& c : control_names)
        if (same_name(word, c.name)) return found(c.id);
    return false;
}

// At most this many characters of a bad line are quoted in its error.
constexpr std::size_t quoted_line_length = 80;

class session {
public:
    session(std::FILE* out, std::FILE* err) : window_(out), out_(out), err_(err) {}

    headless_window& window() { return window_; }
    bool any_failed() const { return failures_ > 0; }

    void handle(const std::string& line) {
        ++line_number_;
        line_ = &line;
        const std::string_view text(line);
        // Blank lines and comments are no commands.
        const std::size_t first = text.find_first_not_of(" \t");
        if (first == std::string_view::npos || text[first] == '#') return;
        const std::size_t blank = text.find(' ');
        const std::string_view command = text.substr(0, blank);
        const std::string_view rest = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        const bool has_rest = blank != std::string_view::npos;
        if (command == "type") {
            type(has_rest, rest);
        } else if (command == "click") {
            click(has_rest, rest);
        } else if (command == "eval") {
            evaluate(rest);
        } else if (command == "key") {
            if (!has_rest || (rest != "enter" && rest != "escape")) return fail("key takes enter or escape");
            dialog_command(window_, rest == "enter" ? command_ok : command_cancel, notify_clicked);
        } else if (command == "close") {
            if (has_rest) return fail("close takes no argument");
            dialog_close(window_);
        } else if (command == "show") {
            int id = 0;
            if (!has_rest || rest.empty()) return fail("show takes one control");
            if (!whole_id(rest, id)) return fail("unknown control '" + escape_text(rest) + "'");
            if (!is_shown_control(id)) return fail("no text control " + std::to_string(id));
            print(escape_text(window_.text(id)) + "\n");
        } else if (command == "checked") {
            if (has_rest) return fail("checked takes no argument");
            print(std::to_string(window_.checked()) + "\n");
        } else if (is_history_command(command)) {
            history_command(command, has_rest, rest);
        } else if (command.empty()) {
            fail("empty command");
        } else {
            fail("unknown command");
        }
    }

private:
    static bool is_history_command(std::string_view c) {
        return c == "undo" || c == "redo" || c == "history" || c == "recall" || c == "copy";
    }

    // undo, redo, history, recall N, copy FIELD BASE.
    void history_command(std::string_view command, bool has_rest, std::string_view rest) {
        if (command == "undo" || command == "redo" || command == "history") {
            if (has_rest) return fail(std::string(command) + " takes no argument");
            if (command == "history") {
                for (std::size_t n = 1; n <= history_entries().size(); ++n)
                    print(escape_text(history_line(n, true)) + "\n");
                return;
            }
            dialog_command(window_, command == "undo" ? IDC_UNDO : IDC_REDO, notify_clicked);
        } else if (command == "recall") {
            std::size_t number = 0;
            if (!has_rest || rest.empty() || rest.size() > 9 ||
                rest.find_first_not_of("0123456789") != std::string_view::npos)
                return fail("recall takes an entry number");
            for (const char c : rest) number = number * 10 + static_cast<std::size_t>(c - '0');
            dialog_recall(window_, number);
        } else {
            int id = 0;
            std::size_t used = 0;
            if (!has_rest || !parse_id(rest, id, used) || used >= rest.size() || rest[used] != ' ')
                return fail("copy takes a field and a base");
            if (value_field_index(id) < 0) return fail("no value field " + std::to_string(id));
            const std::string_view radix = rest.substr(used + 1);
            int base = 0;
            for (const base_entry& b : base_table)
                if (radix == b.caption) base = b.base;
            if (base == 0) return fail("copy takes a base of 2, 8, 10, 16, 36, 60, 64 or 256");
            std::string text;
            if (!field_text_in_base(id, base, text)) return fail("the value cannot be written in that base");
            print(escape_text(text) + "\n");
        }
    }

    void type(bool has_rest, std::string_view rest) {
        int id = 0;
        std::size_t used = 0;
        if (!has_rest || rest.empty() || rest[0] == ' ') return fail("type takes a field and a text");
        if (!parse_id(rest, id, used)) return fail("unknown field '" + escape_text(rest.substr(0, rest.find(' '))) + "'");
        std::string_view typed;
        if (used < rest.size()) {
            if (rest[used] != ' ') return fail("type takes a field and a text");
            typed = rest.substr(used + 1);
        }
        if (!is_operand_field(id)) {
            if (id == IDC_FIELD_ANS || id == IDC_STATUS) return fail("field " + std::to_string(id) + " is read-only");
            return fail("no edit field " + std::to_string(id));
        }
        std::string value;
        std::string error;
        // The script's own characters reach the field as the window's field
        // holds them, one byte a character; one it cannot hold is refused
        // as the window refuses it.
        unsigned long unholdable = 0;
        if (!unescape_text(typed, value, error, &unholdable)) return fail(error);
        if (value.find('\0') != std::string::npos) return fail("a field cannot hold a zero byte");
        if (unholdable != 0) {
            dialog_paste_refused(window_, id, unholdable);
            return;
        }
        if (!window_.type(id, value)) {
            dialog_command(window_, id, notify_edit_full);
            return;
        }
        // A text of several characters comes in at once, as a paste does.
        dialog_command(window_, id, value.size() > 1 ? notify_edit_pasted : notify_edit_changed);
    }

    // The expression line's text (the script's UTF-8 as it is, escapes
    // decoded), then Enter in it.
    void evaluate(std::string_view rest) {
        std::string text;
        std::string error;
        if (!unescape_text(rest, text, error)) return fail(error);
        window_.write_field(IDC_EXPRESSION, text.c_str());
        dialog_expression(window_, text);
    }

    void click(bool has_rest, std::string_view rest) {
        int id = 0;
        if (!has_rest || rest.empty()) return fail("click takes one button");
        if (!whole_id(rest, id)) return fail("unknown button '" + escape_text(rest) + "'");
        if (!is_button(id)) return fail("no button " + std::to_string(id));
        if (is_radio_button(id)) window_.click_radio(id);
        dialog_command(window_, id, notify_clicked);
    }

    static bool whole_id(std::string_view text, int& id) {
        std::size_t used = 0;
        return parse_id(text, id, used) && used == text.size();
    }

    void print(const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), out_);
        std::fflush(out_);
    }

    // A line that could not be carried out: its number, the reason and the
    // line's start (a script line may be megabytes long).
    void fail(const std::string& reason) {
        ++failures_;
        const std::string& line = *line_;
        std::string quoted = escape_text(std::string_view(line).substr(0, quoted_line_length));
        if (line.size() > quoted_line_length) quoted += "...";
        std::fprintf(err_, "error: line %ld: %s: %s\n", line_number_, reason.c_str(), quoted.c_str());
        std::fflush(err_);
    }

    headless_window window_;
    std::FILE* out_;
    std::FILE* err_;
    long line_number_ = 0;
    const std::string* line_ = nullptr;
    int failures_ = 0;
};

}  // namespace

std::string escape_text(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c > 0x7E) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

bool unescape_text(std::string_view text, std::string& out, std::string& error, unsigned long* unholdable) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            unsigned long code = 0;
            const int length = unholdable != nullptr ? utf8_sequence(text, i, code) : 0;
            if (length == 0) {
                out += text[i];
            } else {
                if (code > 0xFF && *unholdable == 0) *unholdable = code;
                out += static_cast<char>(code & 0xFF);
                i += static_cast<std::size_t>(length - 1);
            }
            continue;
        }
        if (i + 1 >= text.size()) {
            error = "text ends in a lone backslash";
            return false;
        }
        const char e = text[++i];
        switch (e) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            const int hi = i + 1 < text.size() ? hex_value(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "\\x needs two hexadecimal digits";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + escape_text(std::string_view(&e, 1));
            return false;
        }
    }
    return true;
}

void headless_window::message_box(const char* caption, const char* text) {
    const std::string line = "messagebox " + escape_text(caption) + "|" + escape_text(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

int run_headless_session(std::FILE* in, std::FILE* out, std::FILE* err) {
    session s(out, err);
    dialog_initialise(s.window());
    std::string line;
    while (!s.window().ended()) {
        if (!read_line(in, line)) {
            dialog_close(s.window());
            break;
        }
        s.handle(line);
    }
    return s.any_failed() ? 1 : 0;
}

namespace {

constexpr char usage_text[] =
    "Usage: torvane-headless [--help | --version] [--session FILE] [FILE]\n"
    "\n"
    "Runs the Torvane calculator's dialog without a window, driven by commands\n"
    "one a line, from FILE or else standard input; answers go to standard\n"
    "output. Blank lines and lines beginning with # are skipped.\n"
    "\n"
    "  type FIELD TEXT  replace the whole text of FIELD with TEXT (everything\n"
    "                   after the one blank); several characters come in as a\n"
    "                   paste; 'type FIELD' alone empties the field\n"
    "  click BUTTON     click a button or base radio button\n"
    "  eval TEXT        put TEXT into the expression line and press Enter:\n"
    "                   Ans (or NAME in 'NAME = ...') gets its value\n"
    "  key enter        the dialog's OK command; 'key escape' its Cancel\n"
    "  close            the window's close box\n"
    "  show CONTROL     print the text of a field or of the status line\n"
    "  checked          print the id of the checked base radio button\n"
    "  undo, redo       undo or redo the last change of the registers\n"
    "  history          print the history, one entry a line, newest last\n"
    "  recall N         put entry N's operands and answer back\n"
    "  copy FIELD BASE  print FIELD's value in BASE, as its Copy in base puts\n"
    "                   it on the clipboard\n"
    "\n"
    "Fields: X Y Z A B (1000-1003, 1005), Ans (1006), status (1007),\n"
    "  expression (1080, the expression line).\n"
    "Buttons: add sub mul div power root powmod moddiv gcd factorial prime\n"
    "  linmod product powmod2 powsum (1039-1053), base2 base8 base10 base16\n"
    "  base36 base60 base64 base256 (1013-1020), clx cly clz cla clb clans\n"
    "  clearall tox (1060-1068), about exit (1008, 1009).\n"
    "Texts in and out use the escapes \\\\ \\n \\r \\t \\xHH; a typed text's\n"
    "  own UTF-8 characters reach the field as the window's Latin-1 field holds\n"
    "  them.\n"
    "Expressions: + - * / % ^ ** ! ( ), numbers 123 0x7B 0b1111011 0o173 with\n"
    "  _ between digits, X Y Z A B Ans, gcd lcm powmod inv root sqrt abs bits\n"
    "  isprime; see torvane-headless(1).\n"
    "\n"
    "A line that cannot be carried out is named on standard error and changes\n"
    "nothing; the exit status is then 1, else 0.\n"
    "\n"
    "--session FILE reads the operands, the answer, the base and the history\n"
    "from FILE at start when it exists, and writes them there after each\n"
    "operation and at the end; without it no session is read or written.\n";

// The text lists every base radio button by its script name, and their ids
// as one run.
constexpr bool usage_names(std::string_view text, std::string_view name) {
    for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if (at > 0 && text[at - 1] == ' ' && end < text.size() && (text[end] == ' ' || text[end] == '\n')) return true;
    }
    return false;
}

constexpr bool usage_lists_the_bases() {
    for (const base_entry& b : base_table)
        if (!usage_names(usage_text, b.script_name)) return false;
    return usage_names(usage_text, "(1013-1020),") && first_base_radio == 1013 && last_base_radio == 1020;
}
static_assert(usage_lists_the_bases());

}  // namespace

const char* const headless_usage = usage_text;
