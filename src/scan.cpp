// Tag scanner. The input is read in fixed chunks into one buffer; the last TAG_LENGTH bytes of
// each chunk are carried to the front of the buffer so that a tag straddling two chunks is seen
// whole in the second chunk's window.
#include "scan.h"

#include <cstring>

std::int64_t search_tag_scalar(const unsigned char* p, std::int64_t n)
{
    const unsigned char* const end = p + n;
    const unsigned char* s = p;
    while (end - s >= TAG_LENGTH) {
        s = static_cast<const unsigned char*>(std::memchr(s, SCAN_TAG[0], end - s - (TAG_LENGTH - 1)));
        if (s == nullptr)
            return -1;
        if (std::memcmp(s, SCAN_TAG, TAG_LENGTH) == 0)
            return s - p;
        ++s;
    }
    return -1;
}

std::int64_t find_tag(std::FILE* in)
{
    unsigned char buffer[TAG_LENGTH + SCAN_CHUNK_SIZE];
    unsigned char* const chunk = buffer + TAG_LENGTH;
    for (std::int64_t k = 0;; ++k) {
        const std::int64_t n = static_cast<std::int64_t>(std::fread(chunk, 1, SCAN_CHUNK_SIZE, in));
        // The first chunk has nothing carried in front of it.
        const std::int64_t first = k == 0 ? TAG_LENGTH : 0;
        const std::int64_t at = search_tag_scalar(buffer + first, TAG_LENGTH + n - first);
        if (at >= 0)
            return SCAN_CHUNK_SIZE * k + first + at;
        if (n < SCAN_CHUNK_SIZE)
            return std::ferror(in) ? SCAN_READ_ERROR : TAG_NOT_FOUND;
        std::memcpy(buffer, buffer + SCAN_CHUNK_SIZE, TAG_LENGTH);
    }
}
