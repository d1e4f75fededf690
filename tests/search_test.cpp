// Every tag search against a naive one, over inputs placed at every alignment and cut at every
// length, so that each vector step and each tail length is crossed.
#include "search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using search_fn = std::int64_t (*)(const unsigned char*, std::int64_t);

std::int64_t naive_search(const unsigned char* p, std::int64_t n)
{
    for (std::int64_t i = 0; i + TAG_LENGTH <= n; ++i)
        if (std::memcmp(p + i, SCAN_TAG, TAG_LENGTH) == 0)
            return i;
    return -1;
}

const struct {
    const char* name;
    search_fn search;
} SEARCHES[] = {
    {"scalar", search_tag_scalar},
#if defined(__SSE2__)
    {"sse2", search_tag_sse2},
#endif
    {"search_tag", search_tag},
};

// `pattern` repeated to `size` bytes, with the tag planted at `at` where it fits (`at` may have
// wrapped below zero: then there is no tag).
std::string haystack(const std::string& pattern, std::size_t size, std::size_t at)
{
    std::string bytes;
    while (bytes.size() < size)
        bytes += pattern;
    bytes.resize(size);
    if (size >= TAG_LENGTH && at <= size - TAG_LENGTH)
        bytes.replace(at, TAG_LENGTH, SCAN_TAG);
    return bytes;
}

void expect_all_agree(const std::string& bytes, const char* what)
{
    // "SND" just before the input and 'F' just after it: a search that reads outside [p, p + n)
    // finds a tag there.
    alignas(64) unsigned char padded[64 + 256 + 64];
    for (std::size_t shift = 0; shift < 64; ++shift) {
        std::memset(padded, 'F', sizeof padded);
        std::memcpy(padded + shift, bytes.data(), bytes.size());
        if (shift >= 3)
            std::memcpy(padded + shift - 3, "SND", 3);
        const unsigned char* p = padded + shift;
        const auto n = static_cast<std::int64_t>(bytes.size());
        for (const auto& s : SEARCHES)
            ASSERT_EQ(s.search(p, n), naive_search(p, n))
                << s.name << " on " << what << ", size " << n << ", shift " << shift;
    }
}

TEST(SearchTag, AgreesWithNaiveSearchOnDenseDecoys)
{
    for (const char* pattern : {"S", "SSS", "SNDSND", "SNDS", "NDF", "SN", "x", "SNDSNDFF"})
        for (std::size_t size : {0, 1, 3, 4, 5, 15, 16, 18, 19, 20, 31, 32, 34, 35, 36, 63, 64, 67, 100, 200})
            for (std::size_t at : {std::size_t{0}, std::size_t{1}, size / 2, size - 5, size - 4, size - 3, size + 1})
                expect_all_agree(haystack(pattern, size, at), pattern);
}

TEST(SearchTag, AgreesWithNaiveSearchOnRandomInput)
{
    std::mt19937 random(2026);
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = random() % 200;
        std::string bytes(size, '\0');
        for (char& b : bytes)
            b = "SNDFx\x80"[random() % 6];
        if (size >= TAG_LENGTH && round % 2 == 0)
            bytes.replace(random() % (size - TAG_LENGTH + 1), TAG_LENGTH, SCAN_TAG);
        expect_all_agree(bytes, "random bytes");
    }
}

} // namespace
