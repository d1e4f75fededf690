// What keldo prints around a scan: the banner, and for one scan result the offset line and the
// block, or why there is none; keldo-list prints the same texts.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr char BANNER[] = ";  KELDO v 0.01 by QOR\n";
constexpr char NOT_FOUND[] = "; not found\n";
// "The file cannot be opened", in Shift_JIS: users of this tool read it on code page 932.
constexpr char CANNOT_OPEN[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF"
                               "\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\n";
constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = -1;

// Gives the input stream a buffer large enough that the scan's 4096-byte requests are copies
// from memory rather than one system call each. At most one stream at a time.
void buffer_input(std::FILE* in);

// Prints `message` and returns STATUS_FAILED.
int fail(const char* message);

// Prints the offset line for the block at `px`.
void print_offset(std::FILE* out, std::int64_t px);

// Prints what follows the banner for `px`, a result of find_tag on `in`: "; not found", or the
// offset line and the block. An unreadable input is reported like one that cannot be opened: a
// partial scan must not pass for "not found", nor other bytes of the input for the block.
// Returns the exit status.
int report_scan(std::FILE* in, std::int64_t px);

// Prints the message for an input that cannot be opened and returns STATUS_FAILED.
int fail_to_open();

// Closes standard output; false when any write to it failed.
bool close_stdout();
