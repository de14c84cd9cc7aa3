// torvane-headless: the calculator's dialog driven by commands on standard
// input, one a line, with its answers on standard output. See
// headless_session.h for the protocol.
#include <cstdio>

#include "headless_session.h"

int main(int argc, char** /*argv*/) {
    if (argc > 1) {
        std::fprintf(stderr, "error: torvane-headless takes no arguments; it reads commands from standard input\n");
        return 2;
    }
    return run_headless_session(stdin, stdout, stderr);
}
