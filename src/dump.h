// Instrument dump: prints the block after the tag as @WT0, @v0 and @EP0 definitions.
#pragma once

#include <cstdint>
#include <cstdio>

// Reads the tag that ends at file offset `px` and the 512-byte block after it again, and prints the
// block to `out`. Bytes past the end of the file are zero. Returns false, having printed nothing,
// when the stream cannot be repositioned there (a pipe), the read fails, or the tag is no longer
// there (a device that ignores the seek, a file changed since the scan).
bool dump_instrument(std::FILE* in, std::int64_t px, std::FILE* out);
