// The reference tag search: the plain first-byte scan and compare.
#include "search.h"

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
