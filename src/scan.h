// Tag scanner: finds the first "SNDF" in a stream and yields the offset just past it.
#pragma once

#include "tag.h"

#include <cstdint>
#include <cstdio>

constexpr std::int64_t SCAN_CHUNK_SIZE = 4096;

// Results of find_tag besides an offset (which is always TAG_LENGTH or more).
constexpr std::int64_t TAG_NOT_FOUND = -1;
constexpr std::int64_t SCAN_READ_ERROR = -2;

// Reads `in` from its current position, file offset `start` (the start of the file unless the
// scan goes on after a tag), in SCAN_CHUNK_SIZE chunks and returns the file offset of the byte
// after the first tag, TAG_NOT_FOUND at the end of the input, or SCAN_READ_ERROR when a read
// fails before any tag was seen. Reading stops at the tag.
std::int64_t find_tag(std::FILE* in, std::int64_t start = 0);
