#include "memory_window.h"

#include <algorithm>
#include <cstring>

#include "../../resources/resource.h"

int memory_window::read_field(int id, char* buffer, int size) {
    if (size <= 0) return 0;
    const std::string& t = text_[id];
    const int n = std::min(static_cast<int>(t.size()), size - 1);
    std::memcpy(buffer, t.data(), static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return n;
}

void memory_window::write_field(int id, const char* text) { text_[id] = text; }

void memory_window::write_status(const char* text) { text_[IDC_STATUS] = text; }

void memory_window::check_radio(int first, int last, int id) {
    if (id >= first && id <= last) checked_ = id;
}

void memory_window::limit_field(int id, int count) { limit_[id] = count; }

bool memory_window::type(int id, const std::string& text) {
    const auto limit = limit_.find(id);
    if (limit != limit_.end() && static_cast<int>(text.size()) > limit->second) return false;
    text_[id] = text;
    return true;
}
