// What keldo prints around a scan: the banner, and for one scan result the offset line and the
// block, or why there is none. The command prints it once; the page's program once a tag.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr char BANNER[] = ";  KELDO v 0.01 by QOR\n";
constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = -1;

// Gives the input stream a buffer large enough that the scan's 4096-byte requests are copies
// from memory rather than one system call each. At most one stream at a time.
void buffer_input(std::FILE* in);

// Prints `message` and returns STATUS_FAILED.
int fail(const char* message);

// Prints what follows the banner for `px`, a result of find_tag on `in`: "; not found", or the
// offset line and the block. An unreadable input is reported like one that cannot be opened: a
// partial scan must not pass for "not found", nor other bytes of the input for the block.
// Returns the exit status.
int report_scan(std::FILE* in, std::int64_t px);

// Prints the message for an input that cannot be opened and returns STATUS_FAILED.
int fail_to_open();

// Closes standard output and returns `status`, or STATUS_FAILED when any write to it failed.
int close_stdout(int status);
