// Fuzz target: a short script of torvane-headless commands.
//
// The input is the script itself (lines of type, click, key, show, checked,
// close, or anything else), run by the headless session after a CLEAR ALL
// and base 16, so that every input starts alike. Faults, sanitizer reports,
// leaks and inputs that never finish are what this target finds.
//
// The dialog's Exit closes the process's standard streams, as the real
// program does on its way out; here that would silence the fuzzer's own
// reports, so the target is linked with fclose wrapped (see CMakeLists.txt)
// and the three standard streams are kept open.
#include <cstdint>
#include <cstdio>
#include <string>

#include "headless_session.h"

extern "C" int __real_fclose(std::FILE* f);
extern "C" int __wrap_fclose(std::FILE* f) {
    if (f == stdin || f == stdout || f == stderr) return 0;
    return __real_fclose(f);
}

namespace {
std::FILE* sink = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sink = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string script = "click 1060\nclick 1016\n";
    script.append(reinterpret_cast<const char*>(data), size);
    std::FILE* in = fmemopen(script.data(), script.size(), "r");
    if (in == nullptr) return 0;
    run_headless_session(in, sink, sink);
    __real_fclose(in);
    return 0;
}
