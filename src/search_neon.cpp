// Tag search with NEON: per 16 positions, two unaligned loads compared with the tag's first and
// last bytes; only a step where such a pair occurs loads the middle two. Sixty-four positions per
// step.
#include "search.h"

#if defined(__aarch64__)
#include <arm_neon.h>

namespace {

inline uint8x16_t equal_at(const unsigned char* p, char byte)
{
    return vceqq_u8(vld1q_u8(p), vdupq_n_u8(static_cast<std::uint8_t>(byte)));
}

// Set where a position of p[0, LANES) holds the tag's first byte and its last byte follows 3 later.
inline uint8x16_t ends_at(const unsigned char* p)
{
    return vandq_u8(equal_at(p, SCAN_TAG[0]), equal_at(p + TAG_LENGTH - 1, SCAN_TAG[TAG_LENGTH - 1]));
}

// Four bits per position of p[0, LANES): set where `ends` holds and the middle bytes match too.
// NEON has no byte movemask; narrowing every 16-bit pair of compare bytes by 4 bits keeps a
// nibble of each byte.
inline std::uint64_t tag_starts(const unsigned char* p, uint8x16_t ends)
{
    const uint8x16_t middle = vandq_u8(equal_at(p + 1, SCAN_TAG[1]), equal_at(p + 2, SCAN_TAG[2]));
    const uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(vandq_u8(ends, middle)), 4);
    return vget_lane_u64(vreinterpret_u64_u8(nibbles), 0);
}

constexpr std::int64_t LANES = 16;
constexpr int LANES_PER_STEP = 4;
constexpr std::int64_t STEP = LANES_PER_STEP * LANES;
constexpr int BITS_PER_POSITION = 4;

} // namespace

std::int64_t search_tag_neon(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        uint8x16_t ends[LANES_PER_STEP];
        uint8x16_t any = vdupq_n_u8(0);
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            any = vorrq_u8(any, ends[lane] = ends_at(p + i + lane * LANES));
        if (vmaxvq_u8(any) == 0)
            continue;
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            if (const std::uint64_t hits = tag_starts(p + i + lane * LANES, ends[lane]))
                return i + lane * LANES + __builtin_ctzll(hits) / BITS_PER_POSITION;
    }
    return finish_with_scalar(p, n, i);
}
#endif
