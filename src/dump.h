// Instrument dump: prints the block after the tag as @WT0, @v0 and @EP0 definitions.
#pragma once

#include <cstdint>
#include <cstdio>

// Reads the 512-byte block at file offset `px` and prints it. Bytes past the end of the file are
// zero. Returns false, having printed nothing, when the stream cannot be repositioned there (a
// pipe) or the read fails.
bool dump_instrument(std::FILE* in, std::int64_t px);
