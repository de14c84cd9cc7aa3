// An in-memory window for the fuzz targets: the text of each control, the
// typing limits, the checked radio button.
#ifndef TORVANE_TESTS_VERIFY_FUZZ_WINDOW_H
#define TORVANE_TESTS_VERIFY_FUZZ_WINDOW_H

#include <cstring>
#include <map>
#include <string>

#include "window.h"

class fuzz_window : public dialog_window {
public:
    int read_field(int id, char* buffer, int size) override {
        const std::string& t = text[id];
        int n = static_cast<int>(t.size()) < size - 1 ? static_cast<int>(t.size()) : size - 1;
        std::memcpy(buffer, t.data(), static_cast<std::size_t>(n));
        buffer[n] = 0;
        return n;
    }
    void write_field(int id, const char* t) override { text[id] = t; }
    void write_status(const char* t) override { text[1007] = t; }
    void check_radio(int, int, int id) override { checked = id; }
    void limit_field(int id, int count) override { limit[id] = count; }
    void message_box(const char*, const char*) override {}
    void end_dialog() override {}

    // The user replaces the text, as a paste does; a text over the field's
    // typing limit is refused whole. False when refused.
    bool type(int id, const std::string& t) {
        auto l = limit.find(id);
        if (l != limit.end() && t.size() > static_cast<std::size_t>(l->second)) return false;
        text[id] = t;
        return true;
    }

    std::map<int, std::string> text;
    std::map<int, int> limit;
    int checked = 0;
};

#endif
