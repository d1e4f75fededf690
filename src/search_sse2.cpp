// Tag search with SSE2: per 16 positions, two unaligned loads compared with the tag's first and
// last bytes; only a step where such a pair occurs loads the middle two. Sixty-four positions per
// step.
#include "search.h"

#if defined(__x86_64__)
#include <emmintrin.h>

namespace {

inline __m128i equal_at(const unsigned char* p, char byte)
{
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8(byte));
}

// Set where a position of p[0, LANES) holds the tag's first byte and its last byte follows 3 later.
inline __m128i ends_at(const unsigned char* p)
{
    return _mm_and_si128(equal_at(p, SCAN_TAG[0]), equal_at(p + TAG_LENGTH - 1, SCAN_TAG[TAG_LENGTH - 1]));
}

// One bit per position of p[0, LANES): set where `ends` holds and the middle bytes match too.
inline unsigned tag_starts(const unsigned char* p, __m128i ends)
{
    const __m128i middle = _mm_and_si128(equal_at(p + 1, SCAN_TAG[1]), equal_at(p + 2, SCAN_TAG[2]));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(ends, middle)));
}

constexpr std::int64_t LANES = 16;
constexpr int LANES_PER_STEP = 4;
constexpr std::int64_t STEP = LANES_PER_STEP * LANES;

} // namespace

std::int64_t search_tag_sse2(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        __m128i ends[LANES_PER_STEP];
        __m128i any = _mm_setzero_si128();
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            any = _mm_or_si128(any, ends[lane] = ends_at(p + i + lane * LANES));
        if (_mm_movemask_epi8(any) == 0)
            continue;
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            if (const unsigned hits = tag_starts(p + i + lane * LANES, ends[lane]))
                return i + lane * LANES + __builtin_ctz(hits);
    }
    return finish_with_scalar(p, n, i);
}
#endif
