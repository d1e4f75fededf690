// Every tag of an input and the block after it, read once, front to back, through one window
// of fixed size: the input is never repositioned, so a pipe, standard input or an archive member
// being unpacked is read as a file is.
#pragma once

#include "dump.h"
#include "tag.h"

#include <cstdint>
#include <cstdio>

// Where the bytes come from. `read` fills up to `size` bytes of `into` and returns how many; 0
// only at the end of the input, -1 when a read fails: then `failure`, if given, says why, else
// errno does.
struct byte_source {
    void* context;
    std::int64_t (*read)(void* context, unsigned char* into, std::int64_t size);
    const char* (*failure)(void* context);
};

// A source over a stdio stream.
byte_source file_source(std::FILE* in);

// The window: the last bytes read, enough to hold a tag, its whole block and a large read.
constexpr std::int64_t STREAM_READ_SIZE = 64 * 1024;
constexpr std::int64_t STREAM_WINDOW_SIZE = TAG_LENGTH + BLOCK_READ_SIZE + STREAM_READ_SIZE;

struct tag_stream {
    byte_source source;
    unsigned char window[STREAM_WINDOW_SIZE];
    std::int64_t base = 0;  // the input offset of window[0]
    std::int64_t from = 0;  // where the search goes on: right after the last tag found
    std::int64_t end = 0;   // window[0, end) holds input bytes
    bool ended = false;     // the source has nothing more to give
    int error = 0;          // errno of the read that failed, if one did
};

enum class stream_result { found, end, failed };

// One tag found: the offset just past it, its block (zero past the end of the input) and how
// many of the block's bytes the input held.
struct found_block {
    std::int64_t px;
    instrument_block block;
    std::int64_t held;
};

void start_stream(tag_stream& stream, byte_source source);

// The next tag after the last one found, or the end of the input, or a read that failed: then
// `found.px` is the offset past a tag whose block the failure cut short, or 0.
stream_result next_block(tag_stream& stream, found_block& found);
