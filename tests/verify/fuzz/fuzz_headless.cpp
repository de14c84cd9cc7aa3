// Fuzz target: a short script of torvane-headless commands.
//
// The input is the script itself (lines of type, click, key, show, checked,
// close, or anything else), run by the headless session after a CLEAR ALL
// and base 16, so that every input starts alike. Faults, sanitizer reports,
// leaks and inputs that never finish are what this target finds.
#include <cstdint>
#include <cstdio>
#include <string>

#include "headless_session.h"

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
    std::fclose(in);
    return 0;
}
