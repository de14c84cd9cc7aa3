// Writes the fuzz targets' seeds of the largest sizes they must take, too
// large to keep in the repository: make_seeds DIR fills DIR/cinstr,
// DIR/field, DIR/headless and DIR/expression (which must exist).
//
// The numbers are 65530-bit values (the longest operand) of both signs,
// written in each of the eight bases by the dialog itself: typed into X in
// base 16 and read back after each base switch. Beside them: the engine's
// own largest number and one bit more for cinstr, a 65531-character field
// and one a character over for field, and torvane-headless scripts that
// type such operands into all five fields and press every button.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "calc.h"
#include "dialog.h"
#include "memory_window.h"

namespace {

constexpr int bases[8] = {2, 8, 10, 16, 36, 60, 64, 256};
constexpr int radios[8] = {1013, 1014, 1015, 1016, 1018, 1017, 1019, 1020};

std::string dir;

void write(const std::string& name, const std::string& bytes) {
    const std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// `digits` pseudo-random hexadecimal digits after a leading 3: a number of
// 4 * digits + 2 bits. No digit is 0, so that no byte of the number is
// zero and its base-256 text, which a zero byte would end, is whole.
std::string hex_number(int digits, unsigned seed) {
    static constexpr char hex[] = "123456789ABCDEF";
    std::string s = "3";
    for (int i = 0; i < digits; ++i) {
        seed = seed * 1103515245u + 12345u;
        s += hex[(seed >> 16) % 15];
    }
    return s;
}

// The text of `hex` (base 16) in each of the eight bases, as X shows it.
std::vector<std::string> in_every_base(memory_window& w, const std::string& hex) {
    dialog_command(w, 1060, notify_clicked);  // CLEAR ALL
    dialog_command(w, radios[3], notify_clicked);
    w.type(1000, hex);
    dialog_command(w, 1000, notify_edit_pasted);
    std::vector<std::string> texts(8);
    for (int k = 0; k < 8; ++k) {
        dialog_command(w, radios[k], notify_clicked);
        texts[static_cast<std::size_t>(k)] = w.text(1000);
    }
    dialog_command(w, radios[3], notify_clicked);
    return texts;
}

std::string script_line(const std::string& command) { return command + "\n"; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    dir = argv[1];
    memory_window w;
    dialog_initialise(w);

    const std::string x = hex_number(16382, 1);
    const std::string minus_x = "-" + x;
    const std::vector<std::string> positive = in_every_base(w, x);
    const std::vector<std::string> negative = in_every_base(w, minus_x);
    for (int k = 0; k < 8; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const std::string base = std::to_string(bases[k]);
        if (positive[i].empty() || negative[i].empty()) {
            std::fprintf(stderr, "make_seeds: no text in base %d\n", bases[k]);
            return 1;
        }
        // field: byte 0 the base's index, byte 1 the field (X, Y, Z, A, B).
        write("field/limit_" + base, std::string{static_cast<char>(k), static_cast<char>(k % 5)} + positive[i]);
        write("field/limit_minus_" + base, std::string{static_cast<char>(k), static_cast<char>(4 - k % 5)} + negative[i]);
        // cinstr: byte 0 the base - 2, byte 1 the buffer (odd: the engine's
        // own); base-64 text is the dialog's, not the engine's.
        if (bases[k] == 64) continue;
        write("cinstr/limit_" + base, std::string{static_cast<char>(bases[k] - 2), '\0'} + positive[i]);
        if (bases[k] <= 60)
            write("cinstr/limit_minus_" + base, std::string{static_cast<char>(bases[k] - 2), '\1'} + negative[i]);
    }
    // The engine's largest number, 2049 words of ones, and one bit more.
    write("cinstr/engine_limit_2", std::string{'\0', '\0'} + std::string(2049 * 32, '1'));
    write("cinstr/engine_limit_plus_16", std::string{'\16', '\0'} + "1" + std::string(2049 * 8, '0'));
    // The longest text a field takes, a sign and 65530 binary digits; and
    // one character more, which the field refuses.
    write("field/typing_limit_2", std::string{'\0', '\2'} + "-" + std::string(max_operand_bits, '1'));
    write("field/over_typing_limit_10", std::string{'\2', '\3'} + std::string(field_typing_limit + 1, '7'));

    // torvane-headless: five 65530-bit operands (Z odd), every quick button,
    // the base switches, TO X; then the same in base 2 with a
    // 65531-character field.
    std::string typed;
    const char* fields[5] = {"1000", "1001", "1002", "1003", "1005"};
    for (int f = 0; f < 5; ++f) {
        std::string value = hex_number(16382, static_cast<unsigned>(f + 2));
        if (f == 2) value.back() = '7';
        if (f == 4) value = "-" + value;
        typed += script_line(std::string("type ") + fields[f] + " " + value);
    }
    std::string quick;
    for (const char* id : {"1039", "1040", "1042", "1044", "1050", "1045", "1047", "1041", "1043", "1051", "1052",
                           "1049", "1053"})
        quick += script_line(std::string("click ") + id) + script_line("show 1006") + script_line("show 1007");
    std::string switches;
    for (const char* id : {"1015", "1013", "1014", "1018", "1017", "1019", "1020", "1016"})
        switches += script_line(std::string("click ") + id) + script_line("show 1000");
    write("headless/limit_operations.txt", typed + quick + script_line("click 1068") + switches);
    write("headless/limit_base2.txt", typed + script_line("click 1013") +
                                           script_line("type 1001 -" + std::string(max_operand_bits, '1')) +
                                           script_line("click 1039") + script_line("click 1042") +
                                           script_line("click 1050") + script_line("click 1016"));
    // The exponentiations at the limit take far longer than one input may:
    // the target cancels them (fuzz_headless.cpp).
    write("headless/limit_powers.txt", typed + script_line("click 1046") + script_line("click 1048") +
                                           script_line("show 1007") + script_line("click 1009"));

    // The expression line (byte 0 the base): 100,000 open parentheses, a
    // chain of a megabyte, one byte over the length the line takes, and
    // literals at the size limit and one bit over.
    write("expression/deep_nesting", std::string{'\3'} + std::string(100000, '('));
    std::string chain = "1";
    while (chain.size() + 2 <= (std::size_t{1} << 20)) chain += "+1";
    write("expression/long_chain", std::string{'\2'} + chain);
    write("expression/over_length", std::string{'\2'} + std::string((std::size_t{1} << 20) + 1, '7'));
    write("expression/limit_binary", std::string{'\0'} + "0b" + std::string(max_operand_bits, '1') + "+0b1");
    write("expression/limit_powers", std::string{'\3'} + "X*2 + (2^65529 - 1)*2 + 3^41344 + 5910! + powmod(X, X, Z)");
    return 0;
}
