// Fuzz target: cinstr in any base from 2 to 256, on any text.
//
// Input: byte 0 picks the base (2 + byte % 255), bit 0 of byte 1 reads the
// text from the engine's own buffer instead of the caller's, the rest is the
// text. Whatever the text, the engine must not fault, must leave its working
// radix and trace as they were, and a number it accepts must be well formed
// and come back the same through cotstr and cinstr.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "internal.h"

namespace {

mr_state* engine = nullptr;
bignum* a = nullptr;
bignum* b = nullptr;
std::vector<char> text(80000);

void require(bool ok) {
    if (!ok) std::abort();
}

void well_formed(const bignum* x) {
    int len = static_cast<int>(x->len & mr_length_mask);
    require(len <= engine->max_length);
    require((x->len & mr_denominator_mask) == 0);
    if (len == 0) require(x->len == 0);
    else require(x->w[len - 1] != 0);
    for (int i = len; i < engine->max_length; ++i) require(x->w[i] == 0);
}

void clear_error() {
    engine->error_number = 0;
    engine->trace_depth = 0;
    engine->length_check = 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    engine = mirsys(16384, 16);
    engine->error_continue = 1;
    set_io_buffer_size(65535);
    a = mirvar(0);
    b = mirvar(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 70000) return 0;
    const int base = 2 + data[0] % 255;
    const bool own_buffer = (data[1] & 1) != 0;
    const std::size_t n = size - 2;
    char* in = own_buffer ? engine->io_buffer : text.data();
    std::size_t room = own_buffer ? static_cast<std::size_t>(engine->io_buffer_size) : text.size() - 1;
    std::size_t len = n < room ? n : room;
    std::memcpy(in, data + 2, len);
    in[len] = 0;

    engine->io_base = base;
    cinstr(a, in);
    require(engine->trace_depth == 0);
    require(engine->digit_base == 0 && engine->external_base == 16 && engine->digits_per_word == 8);
    if (engine->error_number != 0) {
        clear_error();
        return 0;
    }
    well_formed(a);

    // Written out and read back, the value is the same; above base 60 a
    // zero digit ends the text, so only texts without one are read back.
    const int count = cotstr(a, text.data());
    require(engine->error_number == 0);
    bool readable = true;
    if (base > 60)
        for (int i = 0; i < count; ++i)
            if (text[static_cast<std::size_t>(i)] == 0) readable = false;
    if (readable) {
        const int back = cinstr(b, text.data());
        require(engine->error_number == 0);
        require(back == count);
        require(compare_numbers(a, b) == 0);
        well_formed(b);
    }
    clear_error();
    return 0;
}
