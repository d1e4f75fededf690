// Searches for the tag inside one buffer. Each algorithm lives in its own file; search_tag is
// the fastest one this target has, and search_tag_scalar the reference the others are tested
// against. All return the index of the first tag lying wholly inside p[0, n), or -1.
#pragma once

#include <cstdint>

constexpr char SCAN_TAG[] = "SNDF";
constexpr std::int64_t TAG_LENGTH = sizeof SCAN_TAG - 1;

// A first-byte scan (memchr), then a full compare at each candidate, resuming one byte later.
// Fast on input with few "S" bytes; on input dense in them every byte costs a compare.
std::int64_t search_tag_scalar(const unsigned char* p, std::int64_t n);

#if defined(__SSE2__)
// Tests thirty-two positions per step for all four tag bytes at once. Its cost per byte does not
// depend on what the input holds, so it helps most where the scalar search is slowest.
std::int64_t search_tag_sse2(const unsigned char* p, std::int64_t n);

inline std::int64_t search_tag(const unsigned char* p, std::int64_t n)
{
    return search_tag_sse2(p, n);
}
#else
inline std::int64_t search_tag(const unsigned char* p, std::int64_t n)
{
    return search_tag_scalar(p, n);
}
#endif
