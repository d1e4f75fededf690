// keldo-list's listing: every instrument of an input, found by one scan that goes on right after
// each tag, written in one of three forms as soon as it is found.
#pragma once

#include "tag_stream.h"

#include <cstdint>
#include <cstdio>

enum class list_form {
    mml,      // one MML source: the banner, a "; file" line per input, definitions numbered across the run
    json,     // JSON Lines: an object per instrument, and one per input without any or unreadable
    separate  // each instrument as keldo prints it alone, ended by a NUL byte (the page's form)
};

struct list_run {
    list_form form = list_form::mml;
    std::int64_t max_count = -1;  // instruments listed from one input at most; -1 for all
    std::int64_t listed = 0;      // instruments listed so far: the number of the next one
    int write_error = 0;          // errno of the first write to the output that failed, if one did
};

// Prints a file name for a line of text: a control character would end the line or hide what
// follows, so each is written as \xHH.
void print_escaped_name(std::FILE* out, const char* name);

// What the run writes before its first input.
void begin_list(const list_run& run, std::FILE* out);

// Lists the instruments of `in`, named `name`, to `out`, each flushed as soon as it is found.
// Returns null when the input was read to its end (or to max_count), else why it was not. A
// failed write ends the listing at once and is kept in `run`.
const char* list_input(byte_source in, const char* name, list_run& run, std::FILE* out);

// What an input that cannot be opened, for `reason`, lists: nothing in MML, a record in JSON,
// keldo's message in the separate form.
void list_unopened(const char* name, const char* reason, list_run& run, std::FILE* out);
