// Tag search with AVX2: four unaligned 32-byte loads at offsets 0 to 3, each compared with one
// tag byte; a position whose four compares all hold is a match. Sixty-four positions per step.
// Compiled for AVX2 function by function, so the rest of the program runs on any x86-64 CPU.
#include "search.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

__attribute__((target("avx2"))) inline __m256i equal_at(const unsigned char* p, char byte)
{
    return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), _mm256_set1_epi8(byte));
}

// One bit per position of p[0, LANES): set where the whole tag starts.
__attribute__((target("avx2"))) inline std::uint64_t tag_starts(const unsigned char* p)
{
    const __m256i sn = _mm256_and_si256(equal_at(p, SCAN_TAG[0]), equal_at(p + 1, SCAN_TAG[1]));
    const __m256i df = _mm256_and_si256(equal_at(p + 2, SCAN_TAG[2]), equal_at(p + 3, SCAN_TAG[3]));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(sn, df)));
}

constexpr std::int64_t LANES = 32;
constexpr std::int64_t STEP = 2 * LANES;

} // namespace

bool cpu_has_avx2() { return __builtin_cpu_supports("avx2") != 0; }

__attribute__((target("avx2"))) std::int64_t search_tag_avx2(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        const std::uint64_t hits = tag_starts(p + i) | tag_starts(p + i + LANES) << LANES;
        if (hits != 0)
            return i + __builtin_ctzll(hits);
    }
    const std::int64_t rest = search_tag_scalar(p + i, n - i);
    return rest < 0 ? -1 : i + rest;
}
#endif
