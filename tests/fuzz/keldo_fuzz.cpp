// Fuzz target: scans each input as a file would be scanned, checks the offset against a plain
// search of the whole input, and dumps the block found there (output discarded).
#include "dump.h"
#include "scan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    if (size == 0)
        return 0;  // an empty buffer cannot be opened as a stream
    std::FILE* in = fmemopen(const_cast<unsigned char*>(data), size, "rb");
    if (in == nullptr)
        std::abort();
    const std::int64_t px = find_tag(in);
    const std::size_t at = std::string_view(reinterpret_cast<const char*>(data), size).find(SCAN_TAG);
    const std::int64_t expected = at == std::string_view::npos ? TAG_NOT_FOUND : static_cast<std::int64_t>(at) + TAG_LENGTH;
    if (px != expected)
        std::abort();
    if (px >= 0 && !dump_instrument(in, px, stdout))
        std::abort();
    std::fclose(in);
    return 0;
}
