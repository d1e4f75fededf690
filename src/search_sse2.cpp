// Tag search with SSE2: four unaligned loads at offsets 0 to 3, each compared with one tag
// byte; a position whose four compares all hold is a match. Thirty-two positions per step.
#include "search.h"

#if defined(__x86_64__)
#include <emmintrin.h>

namespace {

inline __m128i equal_at(const unsigned char* p, char byte)
{
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8(byte));
}

// One bit per position of p[0, LANES): set where the whole tag starts.
inline unsigned tag_starts(const unsigned char* p)
{
    const __m128i sn = _mm_and_si128(equal_at(p, SCAN_TAG[0]), equal_at(p + 1, SCAN_TAG[1]));
    const __m128i df = _mm_and_si128(equal_at(p + 2, SCAN_TAG[2]), equal_at(p + 3, SCAN_TAG[3]));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(sn, df)));
}

constexpr std::int64_t LANES = 16;
constexpr std::int64_t STEP = 2 * LANES;

} // namespace

std::int64_t search_tag_sse2(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        const unsigned hits = tag_starts(p + i) | tag_starts(p + i + LANES) << LANES;
        if (hits != 0)
            return i + __builtin_ctz(hits);
    }
    const std::int64_t rest = search_tag_scalar(p + i, n - i);
    return rest < 0 ? -1 : i + rest;
}
#endif
