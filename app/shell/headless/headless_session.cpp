#include "headless_session.h"

#include <algorithm>
#include <cstring>

#include "calc.h"
#include "dialog.h"
#include "resource.h"

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_shown_control(int id) { return id >= IDC_FIELD_X && id <= IDC_STATUS && id != 1004; }

bool is_radio_button(int id) { return id >= IDC_BASE_2 && id <= IDC_BASE_256; }

bool is_button(int id) {
    return id == IDC_ABOUT || id == IDC_EXIT || is_radio_button(id) || (id >= IDC_OP_ADD && id <= IDC_OP_PRIME) ||
           (id >= IDC_CLEAR_ALL && id <= IDC_CL_B) || id == IDC_CL_ANS || id == IDC_TO_X;
}

// Reads one line without its line feed. False at end of input when nothing
// was read.
bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return any;
}

// Parses a control id of one to five decimal digits at the start of `text`;
// `used` receives the number of characters taken.
bool parse_id(std::string_view text, int& id, std::size_t& used) {
    used = 0;
    id = 0;
    while (used < text.size() && text[used] >= '0' && text[used] <= '9' && used < 5) {
        id = id * 10 + (text[used] - '0');
        ++used;
    }
    return used > 0 && (used == text.size() || text[used] < '0' || text[used] > '9');
}

class session {
public:
    session(std::FILE* out, std::FILE* err) : window_(out), out_(out), err_(err) {}

    headless_window& window() { return window_; }

    void handle(const std::string& line) {
        const std::string_view text(line);
        const std::size_t blank = text.find(' ');
        const std::string_view command = text.substr(0, blank);
        const std::string_view rest = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        const bool has_rest = blank != std::string_view::npos;
        if (command == "type") {
            type(has_rest, rest);
        } else if (command == "click") {
            click(has_rest, rest);
        } else if (command == "key") {
            if (!has_rest || (rest != "enter" && rest != "escape")) return fail("key takes enter or escape");
            dialog_command(window_, rest == "enter" ? command_ok : command_cancel, notify_clicked);
        } else if (command == "close") {
            if (has_rest) return fail("close takes no argument");
            dialog_close(window_);
        } else if (command == "show") {
            int id = 0;
            if (!has_rest || !whole_id(rest, id)) return fail("show takes one control id");
            if (!is_shown_control(id)) return fail("no text control " + std::to_string(id));
            print(escape_text(window_.text(id)) + "\n");
        } else if (command == "checked") {
            if (has_rest) return fail("checked takes no argument");
            print(std::to_string(window_.checked()) + "\n");
        } else if (command.empty()) {
            fail("empty command");
        } else {
            fail("unknown command '" + escape_text(command) + "'");
        }
    }

private:
    void type(bool has_rest, std::string_view rest) {
        int id = 0;
        std::size_t used = 0;
        if (!has_rest || !parse_id(rest, id, used)) return fail("type takes a field id and a text");
        std::string_view typed;
        if (used < rest.size()) {
            if (rest[used] != ' ') return fail("type takes a field id and a text");
            typed = rest.substr(used + 1);
        }
        if (!is_operand_field(id)) {
            if (id == IDC_FIELD_ANS || id == IDC_STATUS) return fail("field " + std::to_string(id) + " is read-only");
            return fail("no edit field " + std::to_string(id));
        }
        std::string value;
        std::string error;
        if (!unescape_text(typed, value, error)) return fail(error);
        const bool cut = window_.type(id, value);
        dialog_command(window_, id, notify_edit_changed);
        if (cut) dialog_command(window_, id, notify_edit_full);
    }

    void click(bool has_rest, std::string_view rest) {
        int id = 0;
        if (!has_rest || !whole_id(rest, id)) return fail("click takes one control id");
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

    void fail(const std::string& reason) {
        std::fprintf(err_, "error: %s\n", reason.c_str());
        std::fflush(err_);
    }

    headless_window window_;
    std::FILE* out_;
    std::FILE* err_;
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

bool unescape_text(std::string_view text, std::string& out, std::string& error) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
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
            if (hi == 0 && lo == 0) {
                error = "a field cannot hold a zero byte";
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

int headless_window::read_field(int id, char* buffer, int size) {
    if (size <= 0) return 0;
    const std::string& t = text_[id];
    const int n = std::min(static_cast<int>(t.size()), size - 1);
    std::memcpy(buffer, t.data(), static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return n;
}

void headless_window::write_field(int id, const char* text) { text_[id] = text; }

void headless_window::write_status(const char* text) { text_[IDC_STATUS] = text; }

void headless_window::check_radio(int first, int last, int id) {
    if (id >= first && id <= last) checked_ = id;
}

void headless_window::limit_field(int id, int count) { limit_[id] = count; }

void headless_window::message_box(const char* caption, const char* text) {
    const std::string line = "messagebox " + escape_text(caption) + "|" + escape_text(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

bool headless_window::type(int id, const std::string& text) {
    const auto limit = limit_.find(id);
    if (limit != limit_.end() && static_cast<int>(text.size()) > limit->second) {
        text_[id] = text.substr(0, static_cast<std::size_t>(limit->second));
        return true;
    }
    text_[id] = text;
    return false;
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
    return 0;
}
