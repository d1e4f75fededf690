// keldo-list's listing: every instrument of an input, found by one scan that goes on right after
// each tag, written in one of three forms as soon as it is found.
#pragma once

#include "tag_stream.h"

#include <cstdint>
#include <cstdio>

enum class list_form {
    mml,      // one MML source: the banner, a "; file" line per input, definitions numbered across the run
    json,     // JSON Lines: an object per instrument, and one per input without any or unreadable
    separate  // each instrument as keldo prints it alone, then its doubts, each ended by a NUL
              // byte (the page's form)
};

struct list_run {
    list_form form = list_form::mml;
    std::int64_t max_count = -1;  // instruments listed from one input at most; -1 for all
    std::int64_t listed = 0;      // instruments listed so far: the number of the next one
    int write_error = 0;          // errno of the first write to the output that failed, if one did
};

// What an input is called: a FILE as given, and for a member of an archive, its path there
// (members of members joined by ':'), or null.
struct input_name {
    const char* file;
    const char* member;
};

// Prints a file name for a line of text: a control character would end the line or hide what
// follows, so each is written as \xHH, and a backslash as \\, so that no two names print alike.
void print_escaped_name(std::FILE* out, const char* name);

// Prints an input's name as print_escaped_name does, a member after its archive: ARCHIVE:MEMBER.
void print_input_name(std::FILE* out, const input_name& name);

// What the run writes before its first input.
void begin_list(const list_run& run, std::FILE* out);

// Lists the instruments of `in`, named `name`, to `out`, each flushed as soon as it is found.
// Returns null when the input was read to its end (or to max_count), else why it was not. A
// failed write ends the listing at once and is kept in `run`.
const char* list_input(byte_source in, const input_name& name, list_run& run, std::FILE* out);

// Names an input that could not be read, and why, on standard error.
void report_unread(const input_name& name, const char* reason);

// What an input that cannot be opened, for `reason`, lists: nothing in MML, a record in JSON,
// keldo's message in the separate form.
void list_unopened(const input_name& name, const char* reason, list_run& run, std::FILE* out);
