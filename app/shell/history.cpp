#include "history.h"

#include <cstring>

#include "base_table.h"
#include "calc.h"
#include "dialog.h"
#include "operations.h"
#include "session_file.h"

// ---- Values -------------------------------------------------------------------

stored_value store_value(const bignum* x) {
    stored_value v;
    const int n = length_of(x);
    v.negative = n > 0 && is_negative(x);
    v.words.assign(x->w, x->w + n);
    while (!v.words.empty() && v.words.back() == 0) v.words.pop_back();
    if (v.words.empty()) v.negative = false;
    return v;
}

bool load_value(const stored_value& v, bignum* x) {
    if (static_cast<int>(v.words.size()) > get_max_length()) return false;
    zero_number(x);
    for (std::size_t i = 0; i < v.words.size(); ++i) x->w[i] = v.words[i];
    if (!v.words.empty())
        x->len = static_cast<std::uint32_t>(v.words.size()) | (v.negative ? mr_sign_bit : 0u);
    return true;
}

int bit_length(const stored_value& v) {
    if (v.words.empty()) return 0;
    int bits = static_cast<int>(v.words.size() - 1) * 32;
    for (std::uint32_t top = v.words.back(); top != 0; top >>= 1) ++bits;
    return bits;
}

namespace {

// ---- Names --------------------------------------------------------------------

struct op_name {
    int opcode;
    const char* name;  // as scripts click its button
    unsigned operands;  // bits 0-4: X, Y, Z, A, B read by the operation
};
constexpr op_name op_names[] = {
    {1, "add", 0b00011},      {2, "sub", 0b00011},      {3, "mul", 0b00011},     {4, "div", 0b00011},
    {5, "power", 0b00011},    {6, "root", 0b00011},     {7, "powmod", 0b00111},  {8, "moddiv", 0b00111},
    {9, "gcd", 0b00011},      {10, "factorial", 0b00001}, {11, "prime", 0b00001}, {12, "linmod", 0b11111},
    {13, "product", 0b11111}, {14, "powmod2", 0b11111}, {16, "powsum", 0b11111},
};

const op_name* find_name(const std::string& name) {
    for (const op_name& n : op_names)
        if (name == n.name) return &n;
    return nullptr;
}

const op_name* find_opcode(int opcode) {
    for (const op_name& n : op_names)
        if (n.opcode == opcode) return &n;
    return nullptr;
}

// A button's caption without its mnemonic mark.
std::string caption_of(int opcode) {
    const operation_entry* op = find_operation(opcode);
    std::string caption;
    if (op == nullptr) return caption;
    for (const char* p = op->caption; *p != '\0'; ++p)
        if (*p != '&') caption += *p;
    return caption;
}

std::string display_name(const std::string& op) {
    if (op == "eval") return "Expression";
    const op_name* n = find_name(op);
    const std::string caption = n != nullptr ? caption_of(n->opcode) : std::string();
    return caption.empty() ? op : caption;
}

constexpr const char* operand_names[operand_count] = {"X", "Y", "Z", "A", "B"};

// ---- Texts of values ----------------------------------------------------------

// Texts longer than this are shortened in the middle.
constexpr std::size_t long_text = 40;
constexpr std::size_t kept_digits = 16;

std::string shorten(const std::string& text, int bits) {
    if (text.size() <= long_text) return text;
    return text.substr(0, kept_digits) + "..." + text.substr(text.size() - kept_digits) + " (" +
           std::to_string(bits) + " bits)";
}

// The text of `value` (in `scratch`) in `base`, shortened; base 256 is
// shown in hexadecimal with "0x", its bytes being unreadable.
std::string short_text(bignum* value, int base) {
    const bool bytes = base == 256;
    if (!format_value(value, bytes ? 16 : base)) {
        char ignored[256];
        take_engine_error(ignored, sizeof ignored);
        return "?";
    }
    std::string text = calc().text_buffer;
    if (bytes) text = text[0] == '-' ? "-0x" + text.substr(1) : "0x" + text;
    return shorten(text, logb2(value));
}

std::string short_stored(const stored_value& v, int base) {
    bignum* scratch = calc().work.saved_ans;  // a window-thread scratch number between actions
    if (!load_value(v, scratch)) return "?";
    std::string text = short_text(scratch, base);
    zero_number(scratch);
    return text;
}

std::string one_line(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string make_summary(const history_entry& e) {
    std::string s;
    const op_name* n = find_name(e.op);
    if (!e.text.empty()) {
        s = one_line(e.text);
    } else {
        const unsigned mask = n != nullptr ? n->operands : 0b11111;
        for (int k = 0; k < operand_count; ++k) {
            if ((mask & (1u << k)) == 0) continue;
            if (!s.empty()) s += ' ';
            s += std::string(operand_names[k]) + "=" + short_stored(e.operands[k], e.base);
        }
    }
    if (e.has_answer) {
        s += " -> Ans=" + short_stored(e.answer, e.base);
        if (e.has_second) s += ", B=" + short_stored(e.second, e.base);
    } else if (!e.verdict.empty()) {
        s += " -> " + one_line(e.verdict);
    }
    s += " [base " + std::to_string(e.base) + "]";
    return s;
}

// ---- State --------------------------------------------------------------------

bool idle() { return core_busy() == busy_state::idle; }

}  // namespace

dialog_history::snapshot dialog_history::capture(dialog_window& window) {
    snapshot s;
    for (int k = 0; k < field_count; ++k) {
        s.values[k] = store_value(register_of(field_list[k]));
        char probe[2];
        s.empty[k] = window.read_field(field_list[k], probe, sizeof probe) <= 0;
    }
    s.base = calc().current_base;
    return s;
}

namespace {

template <class Step>
void trim(std::deque<Step>& steps) {
    while (steps.size() > undo_capacity) steps.pop_front();
}

// Writes every value field from its register in the current base, or
// empty where `empty` says; false on an engine error (then in `status`).
bool redraw_fields(dialog_window& window, const bool* empty, char* status, int size) {
    for (int k = 0; k < field_count; ++k) {
        if (empty != nullptr && empty[k]) {
            write_field_text(window, field_list[k], "");
        } else if (!render_field(window, field_list[k], calc().current_base)) {
            take_engine_error(status, size);
            return false;
        }
    }
    return true;
}

}  // namespace

bool dialog_history::snapshot::same_state(const snapshot& o) const {
    for (int k = 0; k < field_count; ++k)
        if (empty[k] != o.empty[k] || !(values[k] == o.values[k])) return false;
    return base == o.base;
}

dialog_history::dialog_history() : writer_(std::make_unique<session_writer>()) {}

// The writer is joined here, after it has written what it was given.
dialog_history::~dialog_history() = default;

void dialog_history::notify() {
    if (listener_ != nullptr) listener_(listener_context_);
}

void dialog_history::add(history_entry e) {
    e.summary = make_summary(e);
    entries_.push_back(std::move(e));
    while (entries_.size() > history_capacity) entries_.pop_front();
    notify();
}

void dialog_history::put_back(dialog_window& window, const snapshot& s) {
    calculator& core = calc();
    for (int k = 0; k < field_count; ++k) load_value(s.values[k], register_of(field_list[k]));
    if (s.base != core.current_base) {
        core.current_base = s.base;
        window.check_radio(first_base_radio, last_base_radio, radio_of_base(core.current_base));
    }
    char status[256] = {};
    if (!redraw_fields(window, s.empty, status, sizeof status)) window.write_status(status);
}

session_data dialog_history::current_session(dialog_window& window) const {
    session_data data;
    const snapshot now = capture(window);
    data.base = now.base;
    for (int k = 0; k < field_count; ++k) {
        data.fields[k] = now.values[k];
        data.empty[k] = now.empty[k];
    }
    data.entries.assign(entries_.begin(), entries_.end());
    return data;
}

// The session is written on the writer's thread; `wait` waits for it (at
// the end, when the process may go next).
void dialog_history::save_session(dialog_window& window, bool wait) {
    if (session_path_.empty()) return;
    writer_->submit(session_path_, current_session(window));
    if (wait) writer_->finish();
    std::string error;
    if (writer_->take_error(error)) {
        // Told once, not after every press, until a save succeeds again.
        if (!save_failed_) window.write_status(("Session not saved: " + error + ".").c_str());
        save_failed_ = true;
    } else {
        save_failed_ = false;
    }
}

void dialog_history::restore_session(dialog_window& window) {
    calculator& core = calc();
    if (session_path_.empty()) return;
    session_data data;
    std::string message;
    switch (load_session_file(session_path_, data, message)) {
    case session_load::missing: return;
    case session_load::set_aside: window.write_status(message.c_str()); return;
    case session_load::loaded: break;
    }
    for (int k = 0; k < field_count; ++k) load_value(data.fields[k], register_of(field_list[k]));
    core.current_base = data.base;
    window.check_radio(first_base_radio, last_base_radio, radio_of_base(core.current_base));
    char status[256] = {};
    if (!redraw_fields(window, data.empty, status, sizeof status)) window.write_status(status);
    for (history_entry& e : data.entries) add(std::move(e));
}

namespace {

std::string what_of_command(int id, int notification) {
    if (notification == notify_edit_pasted) return std::string("paste into ") + field_name(id);
    if (const int field = field_of_clear_button(id); field != 0) return std::string("CL ") + field_name(field);
    if (id == IDC_CLEAR_ALL) return "CLEAR ALL";
    if (id == IDC_TO_X) return "TO X";
    return "change";
}

}  // namespace

// ---- History ------------------------------------------------------------------

std::string dialog_history::line(std::size_t number, bool script_name) const {
    if (number == 0 || number > entries_.size()) return {};
    const history_entry& e = entries_[number - 1];
    return std::to_string(number) + ' ' + (script_name ? e.op : display_name(e.op)) + ": " + e.summary;
}

void dialog_history::add_entry(const std::string& op, const std::string& text, const bignum* answer,
                               const bignum* second, const char* verdict) {
    history_entry e;
    e.op = op;
    e.text = text;
    e.base = calc().current_base;
    for (int k = 0; k < operand_count; ++k) e.operands[k] = store_value(register_of(field_list[k]));
    if (answer != nullptr) {
        e.has_answer = true;
        e.answer = store_value(answer);
    }
    if (second != nullptr) {
        e.has_second = true;
        e.second = store_value(second);
    }
    if (verdict != nullptr) e.verdict = verdict;
    add(std::move(e));
}

void dialog_history::changed(dialog_window& window, const std::string& what) {
    snapshot now = capture(window);
    if (have_shadow_ && !now.same_state(shadow_)) {
        shadow_.what = what;
        undo_steps_.push_back(std::move(shadow_));
        trim(undo_steps_);
        redo_steps_.clear();
        notify();
    }
    shadow_ = std::move(now);
    have_shadow_ = true;
}

void dialog_history::save(dialog_window& window) { save_session(window, false); }

void dialog_history::set_listener(history_listener listener, void* context) {
    listener_ = listener;
    listener_context_ = context;
}

void dialog_history::clear_listener(void* context) {
    if (listener_context_ == context) {
        listener_ = nullptr;
        listener_context_ = nullptr;
    }
}

// Undo and redo: the step leaves `from`, the state now goes onto `to`.
void dialog_history::step(dialog_window& window, std::deque<snapshot>& from, std::deque<snapshot>& to,
                          const char* done, const char* none) {
    if (!idle()) return;
    if (from.empty()) {
        window.write_status(none);
        return;
    }
    snapshot target = std::move(from.back());
    from.pop_back();
    snapshot now = capture(window);
    now.what = target.what;
    to.push_back(std::move(now));
    trim(to);
    put_back(window, target);
    shadow_ = capture(window);
    have_shadow_ = true;
    window.write_status((std::string(done) + target.what + ".").c_str());
    notify();
}

void dialog_history::undo(dialog_window& window) {
    step(window, undo_steps_, redo_steps_, "Undone: ", "Nothing to undo.");
}

void dialog_history::redo(dialog_window& window) {
    step(window, redo_steps_, undo_steps_, "Redone: ", "Nothing to redo.");
}

void dialog_history::recall(dialog_window& window, std::size_t number) {
    register_set& registers = calc().registers;
    if (!idle()) return;
    if (number == 0 || number > entries_.size()) {
        window.write_status(("No history entry " + std::to_string(number) + ".").c_str());
        return;
    }
    const history_entry e = entries_[number - 1];
    for (int k = 0; k < operand_count; ++k) load_value(e.operands[k], register_of(field_list[k]));
    if (e.has_answer) load_value(e.answer, registers.ans);
    if (e.has_second) load_value(e.second, registers.b);
    char status[256] = {};
    const bool drawn = redraw_fields(window, nullptr, status, sizeof status);
    changed(window, "recall of entry " + std::to_string(number));
    if (!drawn)
        window.write_status(status);
    else
        window.write_status(("Entry " + std::to_string(number) + " recalled: " + display_name(e.op) + ".").c_str());
}

bool field_text_in_base(int field_id, int base, std::string& out) {
    bignum* value = register_of(field_id);
    if (value == nullptr || !idle()) return false;
    if (!format_value(value, base)) {
        char ignored[256];
        take_engine_error(ignored, sizeof ignored);
        return false;
    }
    out = calc().text_buffer;
    return true;
}

std::string field_value_tip(int field_id) {
    bignum* value = register_of(field_id);
    if (value == nullptr || !idle()) return {};
    const std::string name = field_name(field_id);
    std::string decimal;
    std::string hex;
    if (!field_text_in_base(field_id, 10, decimal) || !field_text_in_base(field_id, 16, hex)) return {};
    const int bits = logb2(value);
    if (hex[0] == '-')
        hex = "-0x" + hex.substr(1);
    else
        hex = "0x" + hex;
    const auto cut = [](const std::string& t) {
        return t.size() <= long_text ? t : t.substr(0, kept_digits) + "..." + t.substr(t.size() - kept_digits);
    };
    return name + " = " + cut(decimal) + "\n" + name + " = " + cut(hex) + "\n" + std::to_string(bits) +
           (bits == 1 ? " bit" : " bits");
}

// ---- Hooks --------------------------------------------------------------------

void dialog_history::initialise(dialog_window& window) {
    entries_.clear();
    undo_steps_.clear();
    redo_steps_.clear();
    have_shadow_ = false;
    have_pending_ = false;
    save_failed_ = false;
    restore_session(window);
    shadow_ = capture(window);
    have_shadow_ = true;
    notify();
}

void dialog_history::after_command(dialog_window& window, int id, int notification) {
    if (!idle() || !have_shadow_) return;
    if (id == IDC_UNDO || id == IDC_REDO || id == IDC_RECALL) return;
    if (notification == notify_edit_changed || notification == notify_edit_full) {
        // Typing: the field's own undo takes it back; the shadow follows.
        shadow_ = capture(window);
        return;
    }
    // A click or a paste; a window's other notifications (focus, scrolling,
    // the status field's own) change nothing.
    if (notification != notify_clicked && notification != notify_edit_pasted) return;
    changed(window, what_of_command(id, notification));
}

namespace {

// An expression's text as its entry keeps it: a long one (a pasted number
// of thousands of digits) shortened in the middle, as values are.
std::string expression_entry_text(const std::string& text) {
    constexpr std::size_t kept = 60;
    const std::string line = one_line(text);
    if (line.size() <= 2 * kept + 5) return line;
    return line.substr(0, kept) + " ... " + line.substr(line.size() - kept);
}

}  // namespace

void dialog_history::before_commit(const calc_job& job) {
    calculator& core = calc();
    have_pending_ = false;
    if (job.kind == job_kind::expression) {
        if (!job.commit) return;
        pending_ = history_entry{};
        pending_.op = "eval";
        pending_.text = expression_entry_text(job.expression);
        pending_.base = core.current_base;
        for (int k = 0; k < operand_count; ++k) pending_.operands[k] = store_value(register_of(field_list[k]));
        // "NAME = ..." sets an operand: the entry keeps the operands as the
        // line left them, so that a recall brings the assignment back.
        if (job.target == IDC_FIELD_ANS) {
            pending_.has_answer = true;
            pending_.answer = store_value(core.work.answer);
        } else if (const int k = value_field_index(job.target); k >= 0 && k < operand_count) {
            pending_.operands[k] = store_value(core.work.answer);
        }
        have_pending_ = true;
        return;
    }
    if (job.kind != job_kind::operation || (!job.commit && !job.verdict)) return;
    const op_name* n = find_opcode(job.opcode);
    if (n == nullptr) return;
    pending_ = history_entry{};
    pending_.op = n->name;
    pending_.base = core.current_base;
    for (int k = 0; k < operand_count; ++k) pending_.operands[k] = store_value(register_of(field_list[k]));
    if (job.commit) {
        pending_.has_answer = true;
        pending_.answer = store_value(core.work.answer);
        if (job.show_b) {
            pending_.has_second = true;
            pending_.second = store_value(core.work.second);
        }
    } else {
        pending_.verdict = job.status;
    }
    have_pending_ = true;
}

void dialog_history::after_commit(dialog_window& window, const calc_job& job) {
    if (have_pending_) {
        have_pending_ = false;
        add(std::move(pending_));
    }
    if (job.kind == job_kind::base_switch) {
        changed(window, "base " + std::to_string(job.base));
        return;
    }
    if (job.kind == job_kind::expression) {
        changed(window, "expression");
        if (job.commit) save_session(window, false);
        return;
    }
    changed(window, caption_of(job.opcode));
    if (job.commit || job.verdict) save_session(window, false);
}

void dialog_history::closing(dialog_window& window) {
    if (!idle()) return;
    save_session(window, true);
}
