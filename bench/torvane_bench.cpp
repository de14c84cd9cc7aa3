// torvane-bench: times the engine's operations against GMP, OpenSSL's BN and
// LibTomMath on the same random operands, and prints a table (time per call
// and the ratio engine/GMP) and, with --csv, one row per figure. Each peer
// is compiled in only where its library was found (TORVANE_BENCH_GMP,
// TORVANE_BENCH_OPENSSL, TORVANE_BENCH_TOMMATH); without them, as in the
// Windows build, it times the engine alone.
//
// Each figure is the median (or --quantile) of repeated timings inside this process, in
// CPU time of this thread by default, so that the other programs of a shared
// machine count as little as they can (wall time with --clock wall). For
// every (operation, size) cell all libraries first run once on the same
// operands and their results are compared; then they take turns, one batch
// each per round (the first library changing from round to round), so that
// drift of the machine reaches all alike. Rounds go on until the cell's time
// budget is spent and at least --min-runs rounds were made. A cell in which
// one call takes more than 2 s is timed by its first call alone unless the
// budget allows more. The results are compared again after the last round;
// any difference ends the program with status 1.
#ifdef TORVANE_BENCH_GMP
#include <gmp.h>
#endif
#ifdef TORVANE_BENCH_OPENSSL
#include <openssl/crypto.h>
#endif

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_case.h"
#include "engine.h"
#include "kernels.h"
#include "operands.h"
#include "pool.h"

namespace {

constexpr const char* usage =
    "usage: torvane-bench [--sizes LIST] [--ops LIST] [--libs LIST] [--budget SECONDS]\n"
    "                     [--min-runs N] [--seed N] [--clock cpu|wall] [--csv FILE] [--quantile Q]\n"
    "                     [--threads N] [--no-ifma] [--digests]\n"
    "       torvane-bench --kernels\n"
    "       torvane-bench --cores\n"
    "  --sizes     operand sizes in bits, 16 to 65530 (default 1024,4096,16384,65530)\n"
    "  --ops       operations (default all): multiply, square, powmod, powmod_even,\n"
    "              powmod2, powltr2, divide, to_decimal, from_decimal, gcd, inverse,\n"
    "              cube_root, factorial5910 (one fixed size, reported as 65530 bits;\n"
    "              run whenever it is selected), isprime (a prime of the size; above\n"
    "              4096 bits a known prime that fits: 3*2^59973+1 at 65530);\n"
    "              powmod_split only when named (a modulus 2^(n/2) times an odd\n"
    "              number and an odd base: both parts of the even-modulus path long)\n"
    "  --libs      libraries (default all of this build's): torvane, gmp, openssl,\n"
    "              tommath, each where its library was found when this was built\n"
    "  --budget    seconds of timing per cell, all libraries together (default 1)\n"
    "  --min-runs  least number of rounds per cell (default 5)\n"
    "  --seed      seed of the operands (default 20261208)\n"
    "  --clock     cpu: CPU time of the thread (default); wall: elapsed time (the\n"
    "              default on Windows, whose thread times advance by scheduler ticks)\n"
    "  --csv       also write operation,bits,library,median_seconds rows to FILE\n"
    "  --quantile  Q: each figure is the Q-quantile of the runs instead of their\n"
    "              median (0.5), e.g. 0.1 for what the code does when the machine\n"
    "              leaves it alone; the rounds still interleave the libraries\n"
    "  --threads   threads of the engine's pool (default 1: no pool, every library\n"
    "              on one core; 0: TORVANE_THREADS or the processor count); more\n"
    "              than one adds the column torvane_mt, the engine with the pool,\n"
    "              timed in turn with the rest, and the ratio torvane/torvane_mt,\n"
    "              all in wall time\n"
    "  --no-ifma   the engine's Montgomery products without the AVX-512 IFMA kernel\n"
    "              (on BMI2/ADX or portable, as on processors without IFMA)\n"
    "  --digests   adds a column with a 64-bit digest (FNV-1a) of each cell's result,\n"
    "              which two builds computing the same numbers print alike\n"
    "  --kernels   instead of the table: cycles (rdtsc ticks) per limb product of the\n"
    "              schoolbook product and square at 8, 16 and 32 limbs, on each kernel path\n"
    "  --cores     instead of the table: what every processor at once gives against one\n"
    "              (a 65530-bit square on each), and the ticks per 64-byte line of\n"
    "              handing data from one processor to another\n";

// A call slower than this may be timed once.
constexpr double slow_call_seconds = 2.0;
// Fast calls are timed in batches of at least this long: long against the
// clock's resolution and cost, short against the machine's time slices.
constexpr double batch_seconds = 0.001;
constexpr int largest_size = 65530;

struct options {
    std::vector<int> sizes{1024, 4096, 16384, 65530};
    std::vector<bench_op> ops;
    std::vector<bench_library> libs;
    double budget = 1.0;
    int min_runs = 5;
    double quantile = 0.5;  // of each cell's runs: 0.5 the median
    std::uint64_t seed = 20261208;
#ifdef _WIN32
    bool cpu_clock = false;
#else
    bool cpu_clock = true;
#endif
    std::string csv;
    bool kernels = false;
    bool cores = false;
    int threads = 1;
    bool no_ifma = false;
    bool digests = false;
};

// Whether this build has library lib.
bool library_built(bench_library lib) {
    switch (lib) {
    case bench_library::torvane:
    case bench_library::torvane_mt: return true;
#ifdef TORVANE_BENCH_GMP
    case bench_library::gmp: return true;
#endif
#ifdef TORVANE_BENCH_OPENSSL
    case bench_library::openssl: return true;
#endif
#ifdef TORVANE_BENCH_TOMMATH
    case bench_library::tommath: return true;
#endif
    default: return false;
    }
}

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> items;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

[[noreturn]] void usage_error(const std::string& what) {
    std::fprintf(stderr, "torvane-bench: %s\n%s", what.c_str(), usage);
    std::exit(2);
}

options parse(int argc, char** argv) {
    options o;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (arg == "--cores") {
            o.cores = true;
            continue;
        }
        if (arg == "--kernels") {
            o.kernels = true;
            continue;
        }
        if (arg == "--no-ifma") {
            o.no_ifma = true;
            continue;
        }
        if (arg == "--digests") {
            o.digests = true;
            continue;
        }
        if (k + 1 >= argc) usage_error("unknown or incomplete argument " + arg);
        const std::string value = argv[++k];
        char* end = nullptr;
        if (arg == "--sizes") {
            o.sizes.clear();
            for (const auto& item : split(value)) {
                const long bits = std::strtol(item.c_str(), &end, 10);
                if (*end != '\0' || bits < 16 || bits > largest_size) usage_error("bad size " + item);
                o.sizes.push_back(static_cast<int>(bits));
            }
        } else if (arg == "--ops") {
            for (const auto& item : split(value)) {
                bench_op op;
                if (!op_from_name(item, &op)) usage_error("unknown operation " + item);
                o.ops.push_back(op);
            }
        } else if (arg == "--libs") {
            for (const auto& item : split(value)) {
                bool known = false;
                for (int l = 0; l < bench_library_count; ++l) {
                    const auto lib = static_cast<bench_library>(l);
                    if (item != library_name(lib)) continue;
                    if (!library_built(lib)) usage_error(item + " was not found when this program was built");
                    o.libs.push_back(lib);
                    known = true;
                }
                if (!known) usage_error("unknown library " + item);
            }
        } else if (arg == "--budget") {
            o.budget = std::strtod(value.c_str(), &end);
            if (*end != '\0' || !(o.budget >= 0)) usage_error("bad budget " + value);
        } else if (arg == "--min-runs") {
            o.min_runs = static_cast<int>(std::strtol(value.c_str(), &end, 10));
            if (*end != '\0' || o.min_runs < 1) usage_error("bad run count " + value);
        } else if (arg == "--seed") {
            o.seed = std::strtoull(value.c_str(), &end, 10);
            if (*end != '\0') usage_error("bad seed " + value);
        } else if (arg == "--quantile") {
            o.quantile = std::strtod(value.c_str(), &end);
            if (*end != '\0' || !(o.quantile >= 0 && o.quantile <= 1)) usage_error("bad quantile " + value);
        } else if (arg == "--clock") {
            if (value != "cpu" && value != "wall") usage_error("unknown clock " + value);
            o.cpu_clock = value == "cpu";
        } else if (arg == "--threads") {
            o.threads = static_cast<int>(std::strtol(value.c_str(), &end, 10));
            if (*end != '\0' || o.threads < 0) usage_error("bad thread count " + value);
        } else if (arg == "--csv") {
            o.csv = value;
        } else {
            usage_error("unknown argument " + arg);
        }
    }
    if (o.sizes.empty()) usage_error("no sizes");
    if (o.ops.empty())
        for (int k = 0; k < bench_op_count; ++k)
            if (static_cast<bench_op>(k) != bench_op::powmod_split) o.ops.push_back(static_cast<bench_op>(k));
    if (o.libs.empty())
        for (int l = 0; l < bench_library_count; ++l)
            if (library_built(static_cast<bench_library>(l))) o.libs.push_back(static_cast<bench_library>(l));
    // The pool's column comes with --threads N > 1 (and the engine's with it,
    // for the ratio), and only then.
    std::erase(o.libs, bench_library::torvane_mt);
    if (o.threads != 1) {
        if (std::find(o.libs.begin(), o.libs.end(), bench_library::torvane) == o.libs.end())
            o.libs.insert(o.libs.begin(), bench_library::torvane);
        o.libs.push_back(bench_library::torvane_mt);
        // Threads' time is not one thread's CPU time.
        o.cpu_clock = false;
    }
    return o;
}

bench_case make_case(bench_library lib, bench_op op, const operand_set& in) {
    switch (lib) {
    case bench_library::torvane: return make_torvane_case(op, in);
#ifdef TORVANE_BENCH_GMP
    case bench_library::gmp: return make_gmp_case(op, in);
#endif
#ifdef TORVANE_BENCH_OPENSSL
    case bench_library::openssl: return make_openssl_case(op, in);
#endif
#ifdef TORVANE_BENCH_TOMMATH
    case bench_library::tommath: return make_tommath_case(op, in);
#endif
    case bench_library::torvane_mt: return make_torvane_mt_case(op, in);
    default: break;
    }
    return {};
}

// FNV-1a over the result's text, as 16 hexadecimal digits.
std::string digest(const std::string& text) {
    std::uint64_t h = 14695981039346656037u;
    for (unsigned char ch : text) h = (h ^ ch) * 1099511628211u;
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

struct entry {
    bench_library lib;
    bench_case c;
    std::vector<double> samples;  // seconds per call
    long batch = 1;
};

// The first 60 characters of a result, for a failure report.
std::string head(const std::string& s) { return s.size() > 60 ? s.substr(0, 60) + "..." : s; }

void compare_results(bench_op op, int bits, const std::vector<entry>& cell, const char* when) {
    const std::string reference = cell[0].c.result();
    for (std::size_t k = 1; k < cell.size(); ++k) {
        const std::string r = cell[k].c.result();
        if (r != reference) {
            std::fprintf(stderr,
                         "torvane-bench: %s at %d bits: results differ %s\n  %-8s %s (%zu characters)\n"
                         "  %-8s %s (%zu characters)\n",
                         op_name(op), bits, when, library_name(cell[0].lib), head(reference).c_str(),
                         reference.size(), library_name(cell[k].lib), head(r).c_str(), r.size());
            std::exit(1);
        }
    }
}

// The clock of the timings: CPU time of this thread, or elapsed time.
bool use_cpu_clock = true;

double clock_seconds() {
    if (use_cpu_clock) {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
    return std::chrono::duration<double>(clock_type::now().time_since_epoch()).count();
}

// Seconds per call of one batch of e's calls.
double time_batch(entry& e) {
    const double t0 = clock_seconds();
    for (long i = 0; i < e.batch; ++i) e.c.run();
    return (clock_seconds() - t0) / static_cast<double>(e.batch);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The q-quantile of the runs (the median for 0.5): the run q of the way
// up the sorted list, the nearest one below.
double quantile_of(std::vector<double> v, double q) {
    if (q == 0.5) return median(std::move(v));
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

// Times one cell; returns the number of rounds made. The cell's entries
// hold their samples afterwards.
int measure(bench_op op, int bits, std::vector<entry>& cell, const options& o) {
    const auto start = clock_type::now();
    double slowest = 0;
    for (auto& e : cell) {
        const double t = time_batch(e);
        e.samples.push_back(t);
        slowest = std::max(slowest, t);
    }
    compare_results(op, bits, cell, "after the first call");
    int rounds = 1;
    if (slowest <= slow_call_seconds) {
        // The first calls were warm-up: find each library's batch size.
        for (auto& e : cell) {
            e.samples.clear();
            while (e.batch < (1L << 30)) {
                const double t = time_batch(e);
                if (t * static_cast<double>(e.batch) >= batch_seconds) break;
                e.batch *= 2;
            }
        }
        rounds = 0;
    }
    while (rounds < (slowest > slow_call_seconds ? 1 : o.min_runs) || seconds_since(start) < o.budget) {
        for (std::size_t k = 0; k < cell.size(); ++k) {
            entry& e = cell[(k + static_cast<std::size_t>(rounds)) % cell.size()];
            e.samples.push_back(time_batch(e));
        }
        ++rounds;
    }
    compare_results(op, bits, cell, "after the last round");
    return rounds;
}

// Three significant digits in ns, µs, ms or s.
std::string format_time(double s) {
    static constexpr struct {
        double scale;
        const char* unit;
    } units[] = {{1e9, "ns"}, {1e6, "µs"}, {1e3, "ms"}, {1, "s"}};
    int k = 0;
    while (k < 3 && s * units[k].scale >= 999.5) ++k;
    const double v = s * units[k].scale;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f %s", v < 9.995 ? 2 : v < 99.95 ? 1 : 0, v, units[k].unit);
    return text;
}

// Right-aligns text in a column of `width` characters; printf would pad by
// bytes, and µ and — take more than one.
void print_cell(const std::string& text, int width = 11) {
    int shown = 0;
    for (unsigned char ch : text) shown += (ch & 0xC0) != 0x80 ? 1 : 0;
    std::printf("%*s%s", std::max(0, width - shown), "", text.c_str());
}

}  // namespace

void report_kernel_cycles();  // kernel_cycles.cpp
void report_core_sharing();   // core_sharing.cpp

[[noreturn]] void bench_fail(const char* library, const std::string& what) {
    std::fprintf(stderr, "torvane-bench: %s: %s\n", library, what.c_str());
    std::exit(1);
}

int main(int argc, char** argv) {
    const options o = parse(argc, argv);
    if (o.kernels) {
        report_kernel_cycles();
        return 0;
    }
    if (o.cores) {
        report_core_sharing();
        return 0;
    }
    use_cpu_clock = o.cpu_clock;
    std::FILE* csv = nullptr;
    if (!o.csv.empty()) {
        csv = std::fopen(o.csv.c_str(), "w");
        if (csv == nullptr) usage_error("cannot write " + o.csv);
        std::fprintf(csv, o.digests ? "operation,bits,library,median_seconds,digest\n"
                                    : "operation,bits,library,median_seconds\n");
    }
    if (o.no_ifma) select_monty_ifma(false);
    start_torvane_engine();
    const int threads = o.threads == 1 ? 1 : start_pool(o.threads);

    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::string peers;
#ifdef TORVANE_BENCH_GMP
    peers += std::string("; GMP ") + gmp_version;
#endif
#ifdef TORVANE_BENCH_OPENSSL
    peers += std::string(", ") + OpenSSL_version(OPENSSL_VERSION);
#endif
#ifdef TORVANE_BENCH_TOMMATH
    peers += ", LibTomMath";
#endif
    if (peers.empty()) peers = "; the engine alone";
#ifdef _WIN32
    peers += " (Windows build)";
#endif
    std::printf("torvane-bench, %s%s; budget %g s per cell, at least %d runs%s\n", date, peers.c_str(), o.budget,
                o.min_runs, o.no_ifma ? "; IFMA kernel off" : "");
    if (o.quantile == 0.5)
        std::printf("median ");
    else
        std::printf("%g-quantile of the ", o.quantile);
    std::printf("%s time per call; the engine on %d thread%s of %u processors, processor family %s\n\n%-14s %6s",
                o.cpu_clock ? "CPU" : "wall", threads, threads == 1 ? "" : "s", std::thread::hardware_concurrency(),
                family_name(choose_family()), "operation", "bits");
    for (bench_library lib : o.libs) std::printf("%11s", library_name(lib));
    std::printf("%13s", "torvane/gmp");
    if (threads > 1) std::printf("%13s", "1 thread/mt");
    std::printf(" %6s", "runs");
    if (o.digests) std::printf("  %s", "result digest");
    std::printf("\n");

    for (bench_op op : o.ops) {
        std::vector<int> sizes = o.sizes;
        if (op == bench_op::factorial5910) sizes = {factorial_row_bits};
        for (int bits : sizes) {
            const operand_set in = make_operands(op, bits, o.seed);
            std::vector<entry> cell;
            for (bench_library lib : o.libs) {
                bench_case c = make_case(lib, op, in);
                if (c.run) cell.push_back({lib, std::move(c), {}, 1});
            }
            if (cell.empty()) continue;
            const int rounds = measure(op, bits, cell, o);

            std::printf("%-14s %6d", op_name(op), bits);
            double engine = 0, gmp = 0, engine_mt = 0;
            for (bench_library lib : o.libs) {
                auto it = std::find_if(cell.begin(), cell.end(), [lib](const entry& e) { return e.lib == lib; });
                if (it == cell.end()) {
                    print_cell("—");
                    continue;
                }
                const double m = quantile_of(it->samples, o.quantile);
                if (lib == bench_library::torvane) engine = m;
                if (lib == bench_library::gmp) gmp = m;
                if (lib == bench_library::torvane_mt) engine_mt = m;
                print_cell(format_time(m));
                if (csv != nullptr) {
                    std::fprintf(csv, "%s,%d,%s,%.6g", op_name(op), bits, library_name(lib), m);
                    if (o.digests) std::fprintf(csv, ",%s", digest(it->c.result()).c_str());
                    std::fprintf(csv, "\n");
                }
            }
            char ratio[16] = "—";
            if (engine > 0 && gmp > 0) std::snprintf(ratio, sizeof ratio, "%.2f", engine / gmp);
            print_cell(ratio, 13);
            if (threads > 1) {
                char speedup[16] = "—";
                if (engine > 0 && engine_mt > 0) std::snprintf(speedup, sizeof speedup, "%.2f", engine / engine_mt);
                print_cell(speedup, 13);
            }
            std::printf(" %6d", rounds);
            if (o.digests) std::printf("  %s", digest(cell[0].c.result()).c_str());
            std::printf("\n");
            std::fflush(stdout);
            if (csv != nullptr) std::fflush(csv);
        }
    }
    if (csv != nullptr) std::fclose(csv);
    // Runs kept waiting by a worker that lost its processor (the pool then
    // computes on one thread for a while): none on a quiet machine.
    if (threads > 1) std::printf("\nthe pool stepped back %d times\n", pool_stalls());
    stop_pool();
    stop_torvane_engine();
    return 0;
}
