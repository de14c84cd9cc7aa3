// The text module's routines for the engine's own use (text.cpp): text in
// the digit base itself, base changes and single digits. cinstr, cotstr
// and set_io_buffer_size are public (engine.h).
#ifndef TORVANE_ENGINE_TEXT_H
#define TORVANE_ENGINE_TEXT_H

#include <cstdint>

#include "engine.h"

// x = the text in the current external base; the text of x in it.
int instr(bignum* x, const char* text);
int otstr(const bignum* x, char* text);
// y = x, whose words are digits of base oldbase, in the current digit base.
void cbase(const bignum* x, std::uint32_t oldbase, bignum* y);
// Sets the i-th external_base digit of x (i >= 1) to n.
void putdig(int n, bignum* x, int i);

#endif
