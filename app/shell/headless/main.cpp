// torvane-headless: the calculator's dialog driven by commands one a line,
// from a file named on the command line or from standard input, with its
// answers on standard output. See headless_session.h for the protocol.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "headless_session.h"
#include "dialog.h"
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
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("torvane-headless " TORVANE_VERSION);
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::fprintf(stderr, "error: torvane-headless takes --help, --version, --session FILE and one script FILE\n");
        return 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "-") != 0) {
        std::FILE* script = std::fopen(argv[1], "rb");
        if (script == nullptr) {
            std::fprintf(stderr, "error: cannot open %s: %s\n", argv[1], std::strerror(errno));
            return 2;
        }
        const int status = run_headless_session(script, stdout, stderr);
        std::fclose(script);
        return status;
    }
    return run_headless_session(stdin, stdout, stderr);
}
