// Text conversion (being written): for now only the text buffer.
#include <cstring>

#include "internal.h"

void set_io_buffer_size(int len) {
    mr_state* s = engine_instance;
    if (len < 0) return;
    if (s->io_buffer != nullptr) {
        std::memset(s->io_buffer, 0, static_cast<std::size_t>(s->io_buffer_size));
        engine_free(s->io_buffer);
    }
    s->io_buffer = nullptr;
    s->io_buffer_size = 0;
    if (len == 0) return;
    s->io_buffer_size = len;
    s->io_buffer = static_cast<char*>(engine_alloc(len + 1, 1));
}
