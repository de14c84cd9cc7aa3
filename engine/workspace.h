// Temporaries of the engine's routines: the workspace numbers and the word
// areas of the fast algorithms, made once by mirsys, reached only through
// scoped claims.
//
// A routine that keeps a value in a workspace number claims it first, for as
// long as the value lives:
//
//     workspace_claim e(ws::scratch14);   // e converts to bignum*
//
// and a routine that works in a scratch area claims the area:
//
//     scratch_claim area(area_product);   // area.words(), area.size()
//
// A claim ends with its scope, on every way out. In debug builds a second
// live claim of the same number or area ends the process with the name of
// both and the place of the second: a routine may not use a number that
// one of its callers holds a value in, whatever the call path. In release
// builds a claim is the plain pointer and costs nothing.
//
// The accumulator is where multiply, divide and the Montgomery reductions
// build their results, and some of them may be handed it as an argument
// (multiply's product, divide's dividend, a reduction's input): they claim
// it with the numbers handed in, and when one of those is the accumulator
// the caller's claim covers it and none is made.
//
// Which routine claims which number or area is read from the code, not kept
// here: scripts/workspace_table.sh lists it, routine by routine.
#ifndef TORVANE_ENGINE_WORKSPACE_H
#define TORVANE_ENGINE_WORKSPACE_H

#include <cstdio>
#include <initializer_list>

#include "internal.h"

// The workspace numbers by their slot in the workspace block
// (TORVANE_WORKSPACE_NUMBERS, internal.h): every one but the installed
// modulus, which is not a temporary and has no claim.
#define TORVANE_WS_ENUM_field(name, slot) name = slot,
#define TORVANE_WS_ENUM_indexed(name, slot) name = slot,
#define TORVANE_WS_ENUM_slot(name, slot) name = slot,
#define TORVANE_WS_ENUM_fixed(name, slot)
#define TORVANE_WS_ENUM(kind, name, slot, slots, label) TORVANE_WS_ENUM_##kind(name, slot)
enum class ws : int { TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_ENUM) };

// x for the numbers routines reach by number (scratch1 to scratch15), in
// their order; nothing for the others.
#define TORVANE_WS_INDEXED_indexed(x) x,
#define TORVANE_WS_INDEXED_field(x)
#define TORVANE_WS_INDEXED_slot(x)
#define TORVANE_WS_INDEXED_fixed(x)
#define TORVANE_WS_INDEXED_SLOT(kind, name, slot, slots, label) TORVANE_WS_INDEXED_##kind(ws::name)
#define TORVANE_WS_INDEXED_FIELD(kind, name, slot, slots, label) TORVANE_WS_INDEXED_##kind(&mr_state::name)

// scratch1 .. scratch15 by number: scratch_slot(k) is ws::scratch<k>, for
// the routines that index their tables.
constexpr ws scratch_slot(int k) {
    constexpr ws slots[] = {TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_INDEXED_SLOT)};
    static_assert(sizeof slots / sizeof slots[0] == 15);
    return slots[k - 1];
}

// What fills each slot of the workspace block: its number's label, one
// number a slot, every slot filled.
inline constexpr auto workspace_slot_labels = [] {
    struct {
        const char* names[workspace_slot_count] = {};
        bool tiled = true;
    } t;
#define TORVANE_WS_LABEL(kind, name, slot, slots, label) \
    for (int i = slot; i < slot + slots; ++i) {          \
        if (t.names[i] != nullptr) t.tiled = false;       \
        t.names[i] = label;                               \
    }
    TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_LABEL)
#undef TORVANE_WS_LABEL
    for (const char* l : t.names)
        if (l == nullptr) t.tiled = false;
    return t;
}();
static_assert(workspace_slot_labels.tiled, "the workspace numbers overlap or leave a slot empty");

// The number in `slot` of instance s: the instance's field where it has
// one, so that a claim of a constant slot compiles to one load.
inline bignum* workspace_at(const mr_state* s, ws slot) {
    switch (slot) {
#define TORVANE_WS_CASE_field(name) \
    case ws::name: return s->name;
#define TORVANE_WS_CASE_indexed(name) TORVANE_WS_CASE_field(name)
#define TORVANE_WS_CASE_slot(name)
#define TORVANE_WS_CASE_fixed(name)
#define TORVANE_WS_CASE(kind, name, slot, slots, label) TORVANE_WS_CASE_##kind(name)
        TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_CASE)
#undef TORVANE_WS_CASE
    default: return number_in_block(s->workspace_block, static_cast<int>(slot), s->max_length - 1);
    }
}

inline bignum* workspace_at(ws slot) { return workspace_at(engine_instance, slot); }

// Where a claim is taken: the file, line and function of the routine that
// takes it, filled in at the call by the compiler (as std::source_location
// would be, which not every compiler the engine is built with provides).
struct claim_site {
    const char* file;
    int line;
    const char* function;
    static constexpr claim_site here(const char* file = __builtin_FILE(), int line = __builtin_LINE(),
                                     const char* function = __builtin_FUNCTION()) {
        return {file, line, function};
    }
};

// The debug bookkeeping: bit k of the instance's live_claims is workspace
// slot k, bit workspace_slot_count + a is scratch area a. take_claim ends
// the process when the bit is already set.
inline constexpr int area_claim_bit = workspace_slot_count;
static_assert(area_claim_bit + scratch_area_count <= 32);
#ifndef NDEBUG
// The name of what bit `bit` stands for.
inline const char* claim_name(int bit) {
    static constexpr const char* areas[scratch_area_count] = {"the product area", "the reduction area",
                                                              "the division area", "the conversion area",
                                                              "the power area"};
    return bit < area_claim_bit ? workspace_slot_labels.names[bit] : areas[bit - area_claim_bit];
}

[[noreturn]] inline void claim_failed(int bit, claim_site where) {
    static char text[160];
    std::snprintf(text, sizeof text, "%s claimed here while a caller still holds it (in %s)", claim_name(bit),
                  where.function);
    engine_precondition_failed(text, where.file, where.line);
}

inline void take_claim(int bit, claim_site where) {
    std::uint32_t& live = engine_instance->live_claims;
    if ((live >> bit) & 1u) claim_failed(bit, where);
    live |= 1u << bit;
}

inline void give_back_claim(int bit) { engine_instance->live_claims &= ~(1u << bit); }
#endif

// A claim of one workspace number for the life of the scope, or until
// end(); converts to the number. Each form also takes the calling thread's
// instance first, from a routine that has read it already.
class workspace_claim {
public:
    explicit workspace_claim(ws slot, claim_site where = claim_site::here())
        : workspace_claim(engine_instance, slot, false, where) {}
    workspace_claim(const mr_state* s, ws slot, claim_site where = claim_site::here())
        : workspace_claim(s, slot, false, where) {}
    // The claim of a routine that may be handed the number itself as one of
    // `handed`: then the caller's claim covers it, and none is taken here.
    workspace_claim(ws slot, std::initializer_list<const bignum*> handed,
                    claim_site where = claim_site::here())
        : workspace_claim(engine_instance, slot, handed, where) {}
    workspace_claim(const mr_state* s, ws slot, std::initializer_list<const bignum*> handed,
                    claim_site where = claim_site::here())
        : workspace_claim(s, slot, is_handed(s, slot, handed), where) {}
    // The same when the caller says whether its own claim covers the number.
    workspace_claim(ws slot, bool held_by_caller, claim_site where = claim_site::here())
        : workspace_claim(engine_instance, slot, held_by_caller, where) {}
    workspace_claim(const mr_state* s, ws slot, bool held_by_caller, claim_site where = claim_site::here())
        : number_(workspace_at(s, slot)) {
#ifndef NDEBUG
        bit_ = static_cast<int>(slot);
        if (held_by_caller)
            held_by_caller_ = true;
        else
            take_claim(bit_, where);
#else
        static_cast<void>(held_by_caller);
        static_cast<void>(where);
#endif
    }
#ifndef NDEBUG
    ~workspace_claim() {
        if (!held_by_caller_ && !ended_) give_back_claim(bit_);
    }
#endif
    workspace_claim(const workspace_claim&) = delete;
    workspace_claim& operator=(const workspace_claim&) = delete;

    // The value in the number is used up: the routine goes on without it,
    // and the routines it calls may claim the number. A number handed in
    // under the caller's claim is used up for the caller too, who must not
    // read it afterwards.
    void end() {
#ifndef NDEBUG
        if (!ended_) give_back_claim(bit_);
        ended_ = true;
#endif
    }

    operator bignum*() const { return number_; }
    bignum* operator->() const { return number_; }
    bignum* get() const { return number_; }

private:
    static bool is_handed(const mr_state* s, ws slot, std::initializer_list<const bignum*> handed) {
#ifndef NDEBUG
        const bignum* number = workspace_at(s, slot);
        for (const bignum* h : handed)
            if (h == number) return true;
#else
        static_cast<void>(s);
        static_cast<void>(slot);
        static_cast<void>(handed);
#endif
        return false;
    }

    bignum* number_;
#ifndef NDEBUG
    int bit_ = 0;
    bool held_by_caller_ = false;
    bool ended_ = false;
#endif
};

// A claim of scratch<first> .. scratch<last>, for the routines that keep a
// table in them and reach it by index (scratch_number).
class scratch_run_claim {
public:
    scratch_run_claim(int first, int last, claim_site where = claim_site::here()) {
#ifndef NDEBUG
        first_ = first;
        last_ = last;
        for (int k = first; k <= last; ++k) take_claim(static_cast<int>(scratch_slot(k)), where);
#else
        static_cast<void>(first);
        static_cast<void>(last);
        static_cast<void>(where);
#endif
    }
#ifndef NDEBUG
    ~scratch_run_claim() {
        for (int k = first_; k <= last_; ++k) give_back_claim(static_cast<int>(scratch_slot(k)));
    }
#endif
    scratch_run_claim(const scratch_run_claim&) = delete;
    scratch_run_claim& operator=(const scratch_run_claim&) = delete;

private:
#ifndef NDEBUG
    int first_;
    int last_;
#endif
};

// A claim of one scratch area for the life of the scope (of instance s,
// the calling thread's).
class scratch_claim {
public:
    explicit scratch_claim(scratch_area a, claim_site where = claim_site::here())
        : scratch_claim(engine_instance, a, where) {}
    scratch_claim(const mr_state* s, scratch_area a, claim_site where = claim_site::here())
        : words_(scratch_words(s, a)), size_(scratch_words_size(s, a)) {
#ifndef NDEBUG
        bit_ = area_claim_bit + static_cast<int>(a);
        take_claim(bit_, where);
#else
        static_cast<void>(where);
#endif
    }
#ifndef NDEBUG
    ~scratch_claim() { give_back_claim(bit_); }
#endif
    scratch_claim(const scratch_claim&) = delete;
    scratch_claim& operator=(const scratch_claim&) = delete;

    mr_digit* words() const { return words_; }
    std::size_t size() const { return size_; }

private:
    mr_digit* words_;
    std::size_t size_;
#ifndef NDEBUG
    int bit_;
#endif
};

// Where the installed Montgomery context keeps n' between calls: four words
// into the reduce area, which the reduce area's users leave alone (see
// the_reduce_area in montgomery.cpp). A fixed home, not a temporary, so it
// takes no claim.
inline mr_digit* installed_nprime_home() { return scratch_words(area_reduce) + 4; }

// scratch<k> (1 <= k <= 15), under a claim its user holds (scratch_run_claim
// or workspace_claim); one indexed load.
inline bignum* scratch_number(int k) {
    TORVANE_EXPECTS(k >= 1 && k <= 15);
    static constexpr bignum* mr_state::*numbers[] = {TORVANE_WORKSPACE_NUMBERS(TORVANE_WS_INDEXED_FIELD)};
    return engine_instance->*numbers[k - 1];
}

#endif
