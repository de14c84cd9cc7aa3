// Drives torvane-headless as a child process: a script of protocol lines goes
// in on standard input, the printed lines and the error lines come back.
#ifndef TORVANE_TESTS_APP_HEADLESS_DRIVER_H
#define TORVANE_TESTS_APP_HEADLESS_DRIVER_H

#include <string>
#include <vector>

#include "resource.h"

struct session_output {
    std::vector<std::string> lines;   // standard output, one entry a line
    std::vector<std::string> errors;  // standard error, one entry a line
    int exit_status = -1;             // -1: the program did not exit normally
};

// Runs the program on `script` (given as it is, without escaping).
session_output run_headless(const std::string& script, const std::vector<std::string>& arguments = {});

// Builds a script of user actions. Texts are escaped for the protocol.
class script {
public:
    script& type(int field, const std::string& text);
    script& click(int id);
    script& base(int radix);  // a click on the radio button of that base
    script& show(int id);
    script& show_fields();    // the six value fields in field order
    script& show_all();       // the six value fields, then the status
    script& raw(const std::string& line);
    // Types each operand whose text is not empty, X, Y, Z, A, B in order.
    script& operands(const std::string& x, const std::string& y = "", const std::string& z = "",
                     const std::string& a = "", const std::string& b = "");

    // Runs the script; the program must end normally with status 0 (a
    // sanitizer report or a crash in it fails the calling test).
    session_output run() const;
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// The protocol's escaped form of a field text.
std::string escaped(const std::string& text);

inline constexpr int X = IDC_FIELD_X, Y = IDC_FIELD_Y, Z = IDC_FIELD_Z, A = IDC_FIELD_A, B = IDC_FIELD_B,
                     ANS = IDC_FIELD_ANS, STATUS = IDC_STATUS;

#endif
