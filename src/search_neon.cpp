// Tag search with NEON: four unaligned 16-byte loads at offsets 0 to 3, each compared with one
// tag byte; a position whose four compares all hold is a match. Thirty-two positions per step.
#include "search.h"

#if defined(__aarch64__)
#include <arm_neon.h>

namespace {

inline uint8x16_t equal_at(const unsigned char* p, char byte)
{
    return vceqq_u8(vld1q_u8(p), vdupq_n_u8(static_cast<std::uint8_t>(byte)));
}

// Four bits per position of p[0, LANES): set where the whole tag starts. NEON has no byte
// movemask; narrowing every 16-bit pair of compare bytes by 4 bits keeps a nibble of each byte.
inline std::uint64_t tag_starts(const unsigned char* p)
{
    const uint8x16_t sn = vandq_u8(equal_at(p, SCAN_TAG[0]), equal_at(p + 1, SCAN_TAG[1]));
    const uint8x16_t df = vandq_u8(equal_at(p + 2, SCAN_TAG[2]), equal_at(p + 3, SCAN_TAG[3]));
    const uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(vandq_u8(sn, df)), 4);
    return vget_lane_u64(vreinterpret_u64_u8(nibbles), 0);
}

constexpr std::int64_t LANES = 16;
constexpr std::int64_t STEP = 2 * LANES;
constexpr int BITS_PER_POSITION = 4;

} // namespace

std::int64_t search_tag_neon(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        const std::uint64_t low = tag_starts(p + i);
        const std::uint64_t high = tag_starts(p + i + LANES);
        if ((low | high) != 0)
            return i + (low != 0 ? __builtin_ctzll(low) : BITS_PER_POSITION * LANES + __builtin_ctzll(high)) /
                           BITS_PER_POSITION;
    }
    const std::int64_t rest = search_tag_scalar(p + i, n - i);
    return rest < 0 ? -1 : i + rest;
}
#endif
