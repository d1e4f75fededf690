// Tag scanner. The input is read in fixed chunks into one buffer; the last TAG_LENGTH bytes of
// each chunk are carried to the front of the buffer so that a tag straddling two chunks is seen
// whole in the second chunk's window.
#include "scan.h"

#include "search.h"

#include <cstring>

std::int64_t find_tag(std::FILE* in, std::int64_t start)
{
    unsigned char buffer[TAG_LENGTH + SCAN_CHUNK_SIZE];
    unsigned char* const chunk = buffer + TAG_LENGTH;
    const search_fn search = fastest_search().search;
    for (std::int64_t k = 0;; ++k) {
        const std::int64_t n = static_cast<std::int64_t>(std::fread(chunk, 1, SCAN_CHUNK_SIZE, in));
        // The first chunk has nothing carried in front of it.
        const std::int64_t first = k == 0 ? TAG_LENGTH : 0;
        const std::int64_t at = search(buffer + first, TAG_LENGTH + n - first);
        if (at >= 0)
            return start + SCAN_CHUNK_SIZE * k + first + at;
        if (n < SCAN_CHUNK_SIZE)
            return std::ferror(in) ? SCAN_READ_ERROR : TAG_NOT_FOUND;
        std::memcpy(buffer, buffer + SCAN_CHUNK_SIZE, TAG_LENGTH);
    }
}
