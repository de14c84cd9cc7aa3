// The session file: the five operands, Ans, the base, which fields are
// empty and the history, kept between runs as text.
//
//   torvane-session 1
//   base 10
//   field X 1F            one line a value field, X Y Z A B Ans in order:
//   field Y -3 empty      its value in hexadecimal, "empty" when the field
//   ...                   shows no text
//   entry powmod 10 2 A 3E8 0 0 ans 18
//   entry div 10 7 2 0 0 0 ans 3 second 1
//   entry prime 16 7 0 0 0 0 verdict X\sis\sPrime\s!
//   end 1234              the number of bytes before this line
//
// An entry: the operation's name, the base, the operands X Y Z A B, then
// any of "ans V", "second V", "verdict TEXT", "text TEXT". TEXT has no
// blank: \s stands for one, \\ \n \r \t and \xHH for the rest. The file is
// untrusted: anything else, a value longer than a register holds, a
// missing or wrong end line, a file over session_size_cap, or another
// version makes the whole file refused.
#ifndef TORVANE_APP_SHELL_SESSION_FILE_H
#define TORVANE_APP_SHELL_SESSION_FILE_H

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "history.h"
#include "value_fields.h"

inline constexpr int session_version = 1;
// The largest session file written or read. History entries that would
// make the file larger are left out of it, oldest first.
inline constexpr std::size_t session_size_cap = 4u << 20;

struct session_data {
    int base = 16;
    stored_value fields[field_count];  // X, Y, Z, A, B, Ans
    bool empty[field_count] = {};
    std::vector<history_entry> entries;  // oldest first; summaries not set
};

// The file's text; the newest entries that keep it within the cap.
std::string encode_session(const session_data& session);
// Reads a session's text; false with the reason (naming the line) when it
// is not a whole session of this version.
bool decode_session(std::string_view text, session_data& session, std::string& reason);

// The escapes of a TEXT in the file, and back (false on a bad escape).
std::string escape_session_text(std::string_view text);
bool unescape_session_text(std::string_view text, std::string& out);

// ---- Files --------------------------------------------------------------------

// The platform's place for the session: $XDG_STATE_HOME/torvane/session,
// else ~/.local/state/torvane/session; %LOCALAPPDATA%\Torvane\session.txt
// on Windows. Empty when neither is known.
std::string default_session_path();

enum class session_load { missing, loaded, set_aside };

// Reads the session at `path`. A file that cannot be trusted is renamed to
// `path` + ".bad" (replacing an older one) and `message` says so.
session_load load_session_file(const std::string& path, session_data& session, std::string& message);

// Writes `text` to `path` whole or not at all: into `path` + ".tmp" in the
// same folder, flushed to the disk, then renamed over the old file. The
// folder is made when missing. False with the reason when it failed; the
// old file is then as it was.
bool save_session_file(const std::string& path, const std::string& text, std::string& error);

// Encodes and saves the sessions handed over on a thread of its own, so
// that the window never waits for the disk: a session handed over replaces
// one whose write has not started yet. The thread starts with the first
// session; the destructor writes what it was given and then joins it.
class session_writer {
public:
    session_writer() = default;
    ~session_writer();
    session_writer(const session_writer&) = delete;
    session_writer& operator=(const session_writer&) = delete;

    void submit(const std::string& path, session_data session);
    // Waits until every session handed over is written.
    void finish();
    // The reason the last write failed, once; false when it did not.
    bool take_error(std::string& error);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::thread thread_;
    std::string path_;
    session_data session_;
    std::string error_;
    bool waiting_ = false;
    bool writing_ = false;
    bool stopping_ = false;
};

#endif
