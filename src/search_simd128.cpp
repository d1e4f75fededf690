// Tag search with WebAssembly SIMD128: per 16 positions, two unaligned loads compared with the
// tag's first and last bytes; only a step where such a pair occurs loads the middle two.
// Sixty-four positions per step.
#include "search.h"

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>

namespace {

inline v128_t equal_at(const unsigned char* p, char byte)
{
    return wasm_i8x16_eq(wasm_v128_load(p), wasm_i8x16_splat(byte));
}

// Set where a position of p[0, LANES) holds the tag's first byte and its last byte follows 3 later.
inline v128_t ends_at(const unsigned char* p)
{
    return wasm_v128_and(equal_at(p, SCAN_TAG[0]), equal_at(p + TAG_LENGTH - 1, SCAN_TAG[TAG_LENGTH - 1]));
}

// One bit per position of p[0, LANES): set where `ends` holds and the middle bytes match too.
inline std::uint32_t tag_starts(const unsigned char* p, v128_t ends)
{
    const v128_t middle = wasm_v128_and(equal_at(p + 1, SCAN_TAG[1]), equal_at(p + 2, SCAN_TAG[2]));
    return wasm_i8x16_bitmask(wasm_v128_and(ends, middle));
}

constexpr std::int64_t LANES = 16;
constexpr int LANES_PER_STEP = 4;
constexpr std::int64_t STEP = LANES_PER_STEP * LANES;

} // namespace

std::int64_t search_tag_simd128(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        v128_t ends[LANES_PER_STEP];
        v128_t any = wasm_i8x16_splat(0);
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            any = wasm_v128_or(any, ends[lane] = ends_at(p + i + lane * LANES));
        if (!wasm_v128_any_true(any))
            continue;
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            if (const std::uint32_t hits = tag_starts(p + i + lane * LANES, ends[lane]))
                return i + lane * LANES + __builtin_ctz(hits);
    }
    return finish_with_scalar(p, n, i);
}
#endif
