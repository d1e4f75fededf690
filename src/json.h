// JSON text for keldo-list: strings escaped as RFC 8259 wants them, and names that are not UTF-8
// kept as their bytes, so that every line is valid JSON whatever a name holds.
#pragma once

#include <cstdio>

// Whether `text` is well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing past U+10FFFF.
bool is_utf8(const char* text);

// Prints `text`, which must be UTF-8, as a JSON string: quotes, backslashes and control
// characters escaped, everything else as it is.
void print_json_string(std::FILE* out, const char* text);

// Prints a file name as {"text":"..."} when it is UTF-8, else as {"bytes":"..."} holding its
// bytes in base64.
void print_json_name(std::FILE* out, const char* name);
