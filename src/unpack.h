// keldo-list's inputs as collections keep them: a FILE that is an archive (zip, 7z, LHA, RAR, an
// ISO 9660 image, tar, or a file compressed whole) lists each file in it as an input of its own,
// named ARCHIVE:MEMBER, members of members too, through libarchive. It is loaded the first time
// an archive is met, so that a run over plain files never pays for loading it and the programs
// need the C library alone; a build without it (Windows, macOS, WebAssembly), or a system
// without it, reads an archive as the bytes it is.
#pragma once

#include "listing.h"

#include <cstdint>
#include <cstdio>

// Archives inside archives are unpacked this deep; deeper ones are read as their bytes.
constexpr int ARCHIVE_DEPTH = 3;
constexpr std::int64_t MAX_UNPACKED = std::int64_t{16} << 30;

// Where unpacking stops: once an archive's members, members of members included, reach
// `max_unpacked` bytes, which the user gave as `max_unpacked_text`.
struct unpack_bound {
    std::int64_t max_unpacked = MAX_UNPACKED;
    const char* max_unpacked_text = "16G";
};

// What --version says of archives: unpacked, by which libarchive, or read as their bytes and why.
const char* archive_support();

// Lists the input `in` (a FILE named `name`, read from its start) as list_input does, or, when
// it is an archive, each file in it as an input of its own. A member that cannot be read, and
// an archive that cannot be read to its end, are named on standard error and, in JSON, in a
// record of their own. Returns whether everything was read. `in` is repositioned only where a
// format needs it (7z) and `in` allows it.
bool list_unpacking(std::FILE* in, const input_name& name, const unpack_bound& bound, list_run& run, std::FILE* out);
