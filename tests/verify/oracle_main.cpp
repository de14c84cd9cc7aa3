// Runner of the differential checks against GMP: walks the table of the
// families (oracle.h) and runs each routine's share of the cases.
//
//   torvane_oracle --family NAME[,NAME...] --cases N [--seed S]
//   torvane_oracle --all --cases N [--seed S]
//   torvane_oracle --replay ROUTINE:SEED:CLASS
//   torvane_oracle --list
//
// --cases is the number of cases of each family, shared out among its
// routines. The seed (default 20261208, so the quick tier is the same on
// every run) is printed first; each failing case prints the line that
// replays it alone. Exit status 1 when any case failed. The engine's worker
// pool is on as the environment says (TORVANE_THREADS; the processor count
// when unset), so that the same cases check the one-thread and the
// parallel paths; the thread count is printed with the seed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "oracle.h"

namespace {

struct options {
    std::set<std::string> families;
    bool all = false;
    long long cases = 1000;
    std::uint64_t seed = 20261208;
    std::string replay;
    int max_failures = 10;
    bool verbose = false;
};

// The families in the order a run takes them (each family's routines in
// the order of its table).
const oracle::family* const families[] = {
    &oracle::gcd_family,    &oracle::modexp_family,    &oracle::montgomery_family, &oracle::muldiv_family,
    &oracle::powers_family, &oracle::primality_family, &oracle::primitives_family, &oracle::text_family,
};

const oracle::family* find_family(const std::string& name) {
    for (const oracle::family* f : families)
        if (name == f->name) return f;
    return nullptr;
}

const oracle::routine* find_routine(const std::string& name) {
    for (const oracle::family* f : families)
        for (const oracle::routine& r : f->routines)
            if (name == r.name) return &r;
    return nullptr;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: torvane_oracle (--family A[,B...] | --all) [--cases N] [--seed S] [--max-failures M] [--verbose]\n"
                 "       torvane_oracle --replay ROUTINE:SEED:CLASS\n"
                 "       torvane_oracle --list\n");
    std::exit(2);
}

mr_state* fresh_engine() {
    mr_state* s = mirsys(16384, 16);
    s->error_continue = 1;
    return s;
}

// Runs one case; prints its report when it fails.
bool run_case(const oracle::routine& r, std::uint64_t seed, int forced_class, mr_state* s) {
    oracle::context ctx(r.name, seed, forced_class, s);
    r.run(ctx);
    if (ctx.failed()) {
        std::printf("%s\n", ctx.report().c_str());
        std::fflush(stdout);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (a == "--family") {
            std::string v = next();
            std::size_t p = 0;
            while (p <= v.size()) {
                std::size_t c = v.find(',', p);
                if (c == std::string::npos) c = v.size();
                o.families.insert(v.substr(p, c - p));
                p = c + 1;
            }
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--cases") {
            o.cases = std::atoll(next().c_str());
        } else if (a == "--seed") {
            o.seed = std::strtoull(next().c_str(), nullptr, 0);
        } else if (a == "--replay") {
            o.replay = next();
        } else if (a == "--max-failures") {
            o.max_failures = std::atoi(next().c_str());
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--list") {
            for (const oracle::family* f : families)
                for (const oracle::routine& r : f->routines) std::printf("%s %s\n", f->name, r.name);
            return 0;
        } else {
            usage();
        }
    }

    mr_state* s = fresh_engine();
    const int threads = start_pool(0);

    if (!o.replay.empty()) {
        std::size_t c1 = o.replay.find(':'), c2 = o.replay.rfind(':');
        if (c1 == std::string::npos || c1 == c2) usage();
        std::string name = o.replay.substr(0, c1);
        std::uint64_t seed = std::strtoull(o.replay.substr(c1 + 1, c2 - c1 - 1).c_str(), nullptr, 0);
        int cls = std::atoi(o.replay.substr(c2 + 1).c_str());
        if (const oracle::routine* r = find_routine(name)) {
            bool ok = run_case(*r, seed, cls, s);
            oracle::release_pool();
            stop_pool();
            release_engine();
            std::printf("%s\n", ok ? "1 passed, 0 failed" : "0 passed, 1 failed");
            return ok ? 0 : 1;
        }
        std::fprintf(stderr, "no routine %s\n", name.c_str());
        return 2;
    }
    if (!o.all && o.families.empty()) usage();

    std::printf("torvane_oracle: seed %llu (0x%llx), %lld cases per family, %d thread%s\n",
                static_cast<unsigned long long>(o.seed), static_cast<unsigned long long>(o.seed), o.cases, threads,
                threads == 1 ? "" : "s");
    long long passed = 0, failed = 0;
    auto start_all = std::chrono::steady_clock::now();
    for (const std::string& name : o.families) {
        if (find_family(name) == nullptr) {
            std::printf("no family %s\n", name.c_str());
            return 2;
        }
    }
    for (const oracle::family* fam : families) {
        if (!o.all && !o.families.count(fam->name)) continue;
        double total_share = 0;
        for (const oracle::routine& r : fam->routines) total_share += r.share;
        for (const oracle::routine& r : fam->routines) {
            long long n = static_cast<long long>(static_cast<double>(o.cases) * r.share / total_share + 0.5);
            if (n < oracle::size_class_count) n = oracle::size_class_count;
            std::uint64_t base = oracle::mix(o.seed, oracle::hash_name(r.name));
            long long ok = 0, bad = 0;
            oracle::tallies().clear();
            auto start = std::chrono::steady_clock::now();
            for (long long k = 0; k < n; ++k) {
                int cls = k < oracle::size_class_count ? static_cast<int>(k) : -1;
                if (run_case(r, oracle::mix(base, static_cast<std::uint64_t>(k)), cls, s)) {
                    ++ok;
                } else if (++bad >= o.max_failures) {
                    std::printf("  (stopping %s after %d failures)\n", r.name, o.max_failures);
                    break;
                }
            }
            double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("  %-10s %-24s %9lld cases %4lld failed %8.2f s\n", fam->name, r.name, ok + bad, bad, secs);
            if (o.verbose)
                for (auto& [path, count] : oracle::tallies()) std::printf("      %-40s %lld\n", path.c_str(), count);
            std::fflush(stdout);
            passed += ok;
            failed += bad;
        }
    }
    oracle::release_pool();
    stop_pool();
    release_engine();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_all).count();
    std::printf("torvane_oracle: %lld cases in %.1f s, seed %llu\n", passed + failed, secs,
                static_cast<unsigned long long>(o.seed));
    std::printf("%lld passed, %lld failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
