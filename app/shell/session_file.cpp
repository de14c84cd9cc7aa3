#include "session_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base_table.h"
#include "calc.h"

namespace {

constexpr const char* magic = "torvane-session";
constexpr const char* field_names[field_count] = {"X", "Y", "Z", "A", "B", "Ans"};

// Hexadecimal digits of a value: the longest a register holds.
constexpr std::size_t longest_hex = static_cast<std::size_t>(register_words) * 8;

void append_hex(std::string& out, const stored_value& v) {
    static constexpr char digits[] = "0123456789ABCDEF";
    if (v.words.empty()) {
        out += '0';
        return;
    }
    if (v.negative) out += '-';
    // The top word without its leading zero digits, then eight digits a word.
    const std::uint32_t top = v.words.back();
    int top_digits = 1;
    while (top_digits < 8 && (top >> (4 * top_digits)) != 0) ++top_digits;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(top_digits) + 8 * (v.words.size() - 1));
    char* p = out.data() + start;
    for (int d = top_digits - 1; d >= 0; --d) *p++ = digits[(top >> (4 * d)) & 15u];
    for (std::size_t i = v.words.size() - 1; i-- > 0;)
        for (int d = 7; d >= 0; --d) *p++ = digits[(v.words[i] >> (4 * d)) & 15u];
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A value as the file writes it: "0", or an optional "-" and upper-case
// digits without leading zeros, no longer than a register holds.
bool parse_hex(std::string_view text, stored_value& v) {
    v = {};
    if (text == "0") return true;
    if (!text.empty() && text[0] == '-') {
        v.negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > longest_hex || text[0] == '0') return false;
    v.words.assign((text.size() + 7) / 8, 0);
    for (std::size_t k = 0; k < text.size(); ++k) {
        const int d = hex_digit(text[text.size() - 1 - k]);
        if (d < 0) return false;
        v.words[k / 8] |= static_cast<std::uint32_t>(d) << (4 * (k % 8));
    }
    return true;
}

bool known_base(int base) { return find_base(base) != nullptr; }

// A whole decimal number of at most four digits.
bool parse_small(std::string_view text, int& n) {
    if (text.empty() || text.size() > 4) return false;
    n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    return true;
}

// An operation's name: lower-case letters and digits, short.
bool valid_name(std::string_view name) {
    if (name.empty() || name.size() > 16) return false;
    for (const char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

// The words of a line; at most max_words + 1, which no good line has, so
// that a line of blanks costs no memory.
constexpr std::size_t max_words = 16;

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start <= line.size() && words.size() <= max_words) {
        const std::size_t blank = line.find(' ', start);
        const std::size_t end = blank == std::string_view::npos ? line.size() : blank;
        words.push_back(line.substr(start, end - start));
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
    return words;
}

std::string encode_entry(const history_entry& e) {
    std::string line = "entry " + e.op + ' ' + std::to_string(e.base);
    for (const stored_value& v : e.operands) {
        line += ' ';
        append_hex(line, v);
    }
    if (e.has_answer) {
        line += " ans ";
        append_hex(line, e.answer);
    }
    if (e.has_second) {
        line += " second ";
        append_hex(line, e.second);
    }
    if (!e.verdict.empty()) line += " verdict " + escape_session_text(e.verdict);
    if (!e.text.empty()) line += " text " + escape_session_text(e.text);
    line += '\n';
    return line;
}

bool decode_entry(const std::vector<std::string_view>& w, history_entry& e) {
    // entry NAME BASE X Y Z A B, then keyword and value pairs.
    if (w.size() < 8 || (w.size() - 8) % 2 != 0) return false;
    if (!valid_name(w[1]) || !parse_small(w[2], e.base) || !known_base(e.base)) return false;
    e.op = w[1];
    for (int k = 0; k < operand_count; ++k)
        if (!parse_hex(w[3 + static_cast<std::size_t>(k)], e.operands[k])) return false;
    for (std::size_t k = 8; k < w.size(); k += 2) {
        const std::string_view key = w[k];
        const std::string_view value = w[k + 1];
        if (key == "ans" && !e.has_answer) {
            if (!parse_hex(value, e.answer)) return false;
            e.has_answer = true;
        } else if (key == "second" && !e.has_second) {
            if (!parse_hex(value, e.second)) return false;
            e.has_second = true;
        } else if (key == "verdict" && e.verdict.empty()) {
            if (!unescape_session_text(value, e.verdict) || e.verdict.empty() || e.verdict.size() > 255) return false;
        } else if (key == "text" && e.text.empty()) {
            if (!unescape_session_text(value, e.text) || e.text.empty()) return false;
        } else {
            return false;
        }
    }
    // An assignment of the expression line keeps no answer but its text.
    return e.has_answer || !e.verdict.empty() || !e.text.empty();
}

std::string session_head(const session_data& s) {
    std::string head = std::string(magic) + ' ' + std::to_string(session_version) + '\n';
    head += "base " + std::to_string(s.base) + '\n';
    for (int k = 0; k < field_count; ++k) {
        head += "field ";
        head += field_names[k];
        head += ' ';
        append_hex(head, s.fields[k]);
        if (s.empty[k]) head += " empty";
        head += '\n';
    }
    return head;
}

}  // namespace

std::string escape_session_text(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case ' ': out += "\\s"; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c <= 0x20 || c > 0x7E) {
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

bool unescape_session_text(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
        case 's': out += ' '; break;
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            if (i + 2 >= text.size()) return false;
            const auto lower = [](char d) { return d >= 'a' && d <= 'f' ? static_cast<char>(d - 'a' + 'A') : d; };
            const int hi = hex_digit(lower(text[i + 1]));
            const int lo = hex_digit(lower(text[i + 2]));
            if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

std::string encode_session(const session_data& s) {
    std::string text = session_head(s);
    // The newest entries that fit, written oldest first; the end line takes
    // at most 32 bytes.
    std::size_t budget = session_size_cap > text.size() + 32 ? session_size_cap - text.size() - 32 : 0;
    std::vector<std::string> lines;
    for (std::size_t k = s.entries.size(); k-- > 0;) {
        std::string line = encode_entry(s.entries[k]);
        if (line.size() > budget) break;
        budget -= line.size();
        lines.push_back(std::move(line));
    }
    for (std::size_t k = lines.size(); k-- > 0;) text += lines[k];
    text += "end " + std::to_string(text.size()) + '\n';
    return text;
}

bool decode_session(std::string_view text, session_data& s, std::string& reason) {
    s = session_data{};
    std::size_t at = 0;
    int line_number = 0;
    int fields_read = 0;
    bool have_base = false;
    std::deque<history_entry> entries;
    const auto fail = [&](const char* why) {
        reason = std::string(why) + " (line " + std::to_string(line_number) + ")";
        s = session_data{};
        return false;
    };
    while (at < text.size()) {
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string_view::npos) {
            line_number++;
            return fail("cut short");
        }
        const std::string_view line = text.substr(at, newline - at);
        const std::size_t line_start = at;
        at = newline + 1;
        ++line_number;
        const std::vector<std::string_view> w = split(line);
        if (line_number == 1) {
            if (w.size() != 2 || w[0] != magic) return fail("not a Torvane session");
            int version = 0;
            if (!parse_small(w[1], version)) return fail("not a Torvane session");
            if (version != session_version) return fail(version > session_version ? "from a newer version" : "unknown version");
            continue;
        }
        if (w[0] == "base" && line_number == 2) {
            if (w.size() != 2 || !parse_small(w[1], s.base) || !known_base(s.base)) return fail("bad base");
            have_base = true;
        } else if (w[0] == "field" && have_base && fields_read < field_count) {
            const bool empty = w.size() == 4 && w[3] == "empty";
            if ((w.size() != 3 && !empty) || w[1] != field_names[fields_read] ||
                !parse_hex(w[2], s.fields[fields_read]))
                return fail("bad field");
            s.empty[fields_read++] = empty;
        } else if (w[0] == "entry" && fields_read == field_count) {
            history_entry e;
            if (!decode_entry(w, e)) return fail("bad history entry");
            // Only the newest entries are kept, as in the window.
            entries.push_back(std::move(e));
            if (entries.size() > history_capacity) entries.pop_front();
        } else if (w[0] == "end" && fields_read == field_count) {
            std::size_t n = 0;
            if (w.size() != 2 || w[1].empty() || w[1].size() > 9) return fail("bad end");
            for (const char c : w[1]) {
                if (c < '0' || c > '9') return fail("bad end");
                n = n * 10 + static_cast<std::size_t>(c - '0');
            }
            if (n != line_start) return fail("length does not match");
            if (at != text.size()) return fail("text after the end");
            s.entries.assign(std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
            return true;
        } else {
            return fail("unexpected line");
        }
    }
    ++line_number;
    return fail("cut short");
}

// ---- Files --------------------------------------------------------------------

std::string default_session_path() {
#ifdef _WIN32
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0') return {};
    return std::string(local) + "\\Torvane\\session.txt";
#else
    // A relative XDG_STATE_HOME is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return std::string(state) + "/torvane/session";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return std::string(home) + "/.local/state/torvane/session";
#endif
}

namespace {

// Reads at most `cap` + 1 bytes of `path` into `out`; false when it cannot
// be opened.
bool read_capped(const std::string& path, std::size_t cap, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out.clear();
    char chunk[65536];
    while (out.size() <= cap) {
        const std::size_t want = std::min(sizeof chunk, cap + 1 - out.size());
        const std::size_t got = std::fread(chunk, 1, want, f);
        out.append(chunk, got);
        if (got < want) break;
    }
    std::fclose(f);
    return true;
}

}  // namespace

session_load load_session_file(const std::string& path, session_data& session, std::string& message) {
    session = session_data{};
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return session_load::missing;
    std::string text;
    std::string reason;
    bool trusted = false;
    if (!std::filesystem::is_regular_file(path, ec)) {
        reason = "not a file";
    } else if (!read_capped(path, session_size_cap, text)) {
        reason = std::strerror(errno);
    } else if (text.size() > session_size_cap) {
        reason = "larger than " + std::to_string(session_size_cap >> 20) + " MiB";
    } else {
        trusted = decode_session(text, session, reason);
    }
    if (trusted) return session_load::loaded;
    text.clear();
    text.shrink_to_fit();
    const std::string aside = path + ".bad";
    std::filesystem::remove(aside, ec);
    std::filesystem::rename(path, aside, ec);
    if (ec)
        message = "Session not restored (" + reason + "); could not set the file aside: " + ec.message() + ".";
    else
        message = "Session not restored (" + reason + "); the file is kept as " + aside + ".";
    return session_load::set_aside;
}

bool save_session_file(const std::string& path, const std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    const std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    if (!written) error = std::strerror(errno);
#ifdef _WIN32
    if (written && _commit(_fileno(f)) != 0) {
        error = std::strerror(errno);
        written = false;
    }
#else
    if (written && fsync(fileno(f)) != 0) {
        error = std::strerror(errno);
        written = false;
    }
#endif
    if (std::fclose(f) != 0 && written) {
        error = std::strerror(errno);
        written = false;
    }
    if (written) {
        fs::rename(temporary, target, ec);
        if (!ec) return true;
        error = ec.message();
    }
    fs::remove(temporary, ec);
    return false;
}

session_writer::~session_writer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void session_writer::submit(const std::string& path, session_data session) {
    {
        const std::lock_guard lock(mutex_);
        path_ = path;
        session_ = std::move(session);
        waiting_ = true;
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
}

void session_writer::finish() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return !waiting_ && !writing_; });
}

bool session_writer::take_error(std::string& error) {
    const std::lock_guard lock(mutex_);
    if (error_.empty()) return false;
    error = std::move(error_);
    error_.clear();
    return true;
}

void session_writer::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return waiting_ || stopping_; });
        if (!waiting_) return;
        const std::string path = std::move(path_);
        const session_data session = std::move(session_);
        session_ = session_data{};
        waiting_ = false;
        writing_ = true;
        lock.unlock();
        const std::string text = encode_session(session);
        std::string error;
        const bool written = save_session_file(path, text, error);
        lock.lock();
        writing_ = false;
        if (!written) error_ = error.empty() ? "unknown error" : error;
        done_.notify_all();
    }
}
