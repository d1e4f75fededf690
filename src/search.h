// Searches for the tag inside one buffer. Each algorithm lives in its own file and has one row in
// SEARCH_VARIANTS, which the scan, the tests and the benchmark all read. All return the index of
// the first tag lying wholly inside p[0, n), or -1, and read no byte outside p[0, n).
#pragma once

#include "tag.h"

#include <cstdint>

using search_fn = std::int64_t (*)(const unsigned char* p, std::int64_t n);

// A first-byte scan (memchr), then a full compare at each candidate, resuming one byte later.
// Fast on input with few "S" bytes; on input dense in them every byte costs a compare. It is the
// reference the others are tested against.
std::int64_t search_tag_scalar(const unsigned char* p, std::int64_t n);

// How a vector search ends: the scalar search over p[from, n), past its last whole step.
inline std::int64_t finish_with_scalar(const unsigned char* p, std::int64_t n, std::int64_t from)
{
    const std::int64_t at = search_tag_scalar(p + from, n - from);
    return at < 0 ? -1 : from + at;
}

// The vector searches compare a whole step of positions with the tag's first and last bytes
// ("S" at i, "F" at i + 3), and with its middle two only in a step where such a pair occurs.
// Their cost per byte hardly depends on what the input holds: they help most where the scalar
// search is slowest. Input dense in "S..F" pairs ("SxxF" repeated) costs them the most.
//
// Sixty-four positions per step, in 16-byte vectors; every x86-64 CPU has SSE2.
std::int64_t search_tag_sse2(const unsigned char* p, std::int64_t n);
// A hundred and twenty-eight positions per step, in 32-byte vectors; only where cpu_has_avx2()
// says so.
std::int64_t search_tag_avx2(const unsigned char* p, std::int64_t n);
bool cpu_has_avx2();
// Whether AVX2 can run, from the CPU's answers: CPUID leaf 1's ECX, XCR0 (0 where it cannot be
// read) and leaf 7's EBX. cpu_has_avx2 asks the CPU and calls it.
bool avx2_usable(std::uint32_t leaf1_ecx, std::uint64_t xcr0, std::uint32_t leaf7_ebx);
// Sixty-four positions per step, in 16-byte vectors; every AArch64 CPU has NEON.
std::int64_t search_tag_neon(const unsigned char* p, std::int64_t n);
// Sixty-four positions per step, in 16-byte vectors; built for WebAssembly runtimes with SIMD128.
std::int64_t search_tag_simd128(const unsigned char* p, std::int64_t n);

inline bool runs_everywhere() { return true; }

struct search_variant {
    const char* name;
    search_fn search;
    bool (*runs_here)();  // whether this CPU has the instructions the search uses
};

// The searches built for this architecture, fastest first.
inline constexpr search_variant SEARCH_VARIANTS[] = {
#if defined(__x86_64__)
    {"avx2", search_tag_avx2, cpu_has_avx2},
    {"sse2", search_tag_sse2, runs_everywhere},
#elif defined(__aarch64__)
    {"neon", search_tag_neon, runs_everywhere},
#elif defined(__wasm_simd128__)
    {"simd128", search_tag_simd128, runs_everywhere},
#endif
    {"scalar", search_tag_scalar, runs_everywhere},
};

// The first variant that this CPU runs. The build stays one for any CPU of its architecture:
// what the CPU has is asked at run time, once, since asking (cpuid) is slow, above all in a
// virtual machine, and keldo-list scans once a tag. Kept in a plain variable, not a local
// static: both programs are single-threaded, and the guard of a local static links the C++
// runtime into them, which every run would then pay the loader for.
inline const search_variant* fastest_known = nullptr;

inline const search_variant& fastest_search()
{
    if (fastest_known == nullptr) {
        const search_variant* v = SEARCH_VARIANTS;
        while (!v->runs_here())  // the last, scalar, runs everywhere
            ++v;
        fastest_known = v;
    }
    return *fastest_known;
}
