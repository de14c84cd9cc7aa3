// torvane-headless: the calculator's dialog driven by commands on standard
// input, one a line, with its answers on standard output. See
// headless_session.h for the protocol.
#include <cstdio>
#include <cstring>

#include "headless_session.h"
#include "session_file.h"

int main(int argc, char** argv) {
    // --session FILE: the session is read from and written to FILE.
    if (argc >= 3 && std::strcmp(argv[1], "--session") == 0) {
        use_session_file(argv[2]);
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(headless_usage, stdout);
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr,
                     "error: torvane-headless takes no arguments but --help and --session FILE; it reads commands from standard input\n");
        return 2;
    }
    return run_headless_session(stdin, stdout, stderr);
}
