// The table of small primes that Prime(X) divides by before it asks the
// engine's probabilistic test: every prime below 2^16, then 65537.
#include "operations.h"

namespace {

constexpr std::array<std::int32_t, small_prime_count> make_small_primes() {
    constexpr int limit = 65537;
    std::array<bool, limit + 1> composite{};
    std::array<std::int32_t, small_prime_count> primes{};
    int count = 0;
    for (int n = 2; n <= limit; ++n) {
        if (composite[n]) continue;
        primes[count++] = n;  // 65536 is no prime, so 65537 follows 65521
        for (long long k = static_cast<long long>(n) * n; k <= limit; k += n) composite[static_cast<std::size_t>(k)] = true;
    }
    return primes;
}

}  // namespace

constinit const std::array<std::int32_t, small_prime_count> small_prime_table = make_small_primes();

static_assert(make_small_primes()[0] == 2);
static_assert(make_small_primes()[small_prime_count - 2] == 65521);
static_assert(make_small_primes()[small_prime_count - 1] == 65537);
