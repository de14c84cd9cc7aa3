#include "headless_driver.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "headless_session.h"

extern char** environ;

namespace {

const char* temp_dir() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

std::string temp_path(const char* tag) {
    std::string pattern = std::string(temp_dir()) + "/torvane-" + tag + "-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    return pattern;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

session_output run_headless(const std::string& script_text, const std::vector<std::string>& arguments) {
    const std::string in_path = temp_path("in"), out_path = temp_path("out"), err_path = temp_path("err");
    {
        std::ofstream in(in_path, std::ios::binary);
        in << script_text;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_TRUNC, 0);
    std::vector<char*> argv;
    std::string program = TORVANE_HEADLESS_PATH;
    argv.push_back(program.data());
    std::vector<std::string> args = arguments;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    session_output result;
    if (spawned == 0) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    }
    result.lines = split_lines(slurp(out_path));
    result.errors = split_lines(slurp(err_path));
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

session_output script::run() const {
    session_output r = run_headless(text_);
    std::string errors;
    for (const auto& e : r.errors) errors += e + "\n";
    EXPECT_EQ(r.exit_status, 0) << errors;
    return r;
}

std::string escaped(const std::string& text) { return escape_text(text); }

script& script::type(int field, const std::string& text) {
    text_ += "type " + std::to_string(field) + " " + escaped(text) + "\n";
    return *this;
}

script& script::click(int id) {
    text_ += "click " + std::to_string(id) + "\n";
    return *this;
}

script& script::base(int radix) {
    switch (radix) {
    case 2: return click(IDC_BASE_2);
    case 8: return click(IDC_BASE_8);
    case 10: return click(IDC_BASE_10);
    case 16: return click(IDC_BASE_16);
    case 36: return click(IDC_BASE_36);
    case 60: return click(IDC_BASE_60);
    case 64: return click(IDC_BASE_64);
    case 256: return click(IDC_BASE_256);
    default: throw std::invalid_argument("no such base");
    }
}

script& script::show(int id) {
    text_ += "show " + std::to_string(id) + "\n";
    return *this;
}

script& script::show_fields() {
    for (int id : {X, Y, Z, A, B, ANS}) show(id);
    return *this;
}

script& script::show_all() { return show_fields().show(STATUS); }

script& script::raw(const std::string& line) {
    text_ += line + "\n";
    return *this;
}

script& script::operands(const std::string& x, const std::string& y, const std::string& z, const std::string& a,
                         const std::string& b) {
    const std::pair<int, const std::string*> fields[] = {{X, &x}, {Y, &y}, {Z, &z}, {A, &a}, {B, &b}};
    for (const auto& [id, text] : fields) {
        if (!text->empty()) type(id, *text);
    }
    return *this;
}
