// Fuzz target: arbitrary bytes as the session file.
//
// The input is written as the session of a torvane-headless run, which
// takes it up at start (or refuses it), shows its history, recalls and
// undoes, and writes its session at the end. A file the reader refuses
// must have been set aside whole under its other name; one it accepts must
// come out again as a session it accepts. Faults, sanitizer reports and
// memory beyond the fuzzer's limit are what this target finds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "dialog.h"
#include "headless_session.h"
#include "session_file.h"

namespace {

std::string session_path;
std::FILE* sink = nullptr;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sink = std::fopen("/dev/null", "w");
    // A folder in memory where there is one: the session is flushed to the
    // disk at every end.
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string folder = (base / "torvane-fuzz-session-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    session_path = folder + "/session";
    use_session_file(session_path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(session_path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::remove(session_path + ".bad");
    session_data session;
    std::string reason;
    const bool trusted = size <= session_size_cap && decode_session(bytes, session, reason);

    std::string script = "history\nrecall 1\nundo\nredo\ncopy Ans 10\nclose\n";
    std::FILE* in = fmemopen(script.data(), script.size(), "r");
    if (in == nullptr) return 0;
    run_headless_session(in, sink, sink);
    std::fclose(in);

    if (!trusted && slurp(session_path + ".bad") != bytes) std::abort();  // not set aside whole
    if (!decode_session(slurp(session_path), session, reason)) std::abort();  // wrote a session it refuses
    return 0;
}
