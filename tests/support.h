// Test helpers: the built tool run as a user would run it, input files, and streams over bytes
// whose reads and seeks fail on purpose.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct run_result {
    int status;
    std::string out;
    std::string err;
};

// Runs keldo with `args`, killed after RUN_TIME_LIMIT seconds so that a hang fails the test;
// standard output goes to `stdout_path` when given (and is then not captured), or is closed for
// CLOSED_STDOUT, and is line-buffered under `line_buffered`; standard input is /dev/null.
run_result run_keldo(const std::vector<std::string>& args, const char* stdout_path = nullptr,
                     bool line_buffered = false);
constexpr char CLOSED_STDOUT[] = "";
constexpr unsigned RUN_TIME_LIMIT = 100;

struct run_case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status;
};

// Whether the tool under test is a WebAssembly module (KELDO_BINARY names a .wasm file): WASI
// passes arguments only as UTF-8, and Node gives a closed standard output a /dev/null instead.
bool testing_wasm_module();

// Runs keldo on `c.args` and expects exactly `c.out`, `c.status` and nothing on standard error.
void expect_run(const run_case& c);

// A path in this process's own temporary folder, which is removed with everything in it when
// the process ends.
std::string temp_path(const std::string& name);

// Writes `bytes` to the file at `path` and returns the path.
std::string write_file(const std::string& path, const std::string& bytes);

// Writes `bytes` to a fresh temporary file and returns its path.
std::string make_file(const std::string& name, const std::string& bytes);

// `size` zero bytes with `tag` written at `offset`.
std::string bytes_with(std::size_t size, std::size_t offset, const std::string& tag);

std::string read_file(const std::string& path);

enum class stream_fault {
    none,
    glitch_at_400,        // the first read that reaches offset 400 fails with EIO; later ones work
    bad_sector_at_400,    // every read that reaches offset 400 (block byte 396) fails with EIO
    seek_stays_put,       // a seek reports success and does not move, like a random-number device
    emptied_before_seek,  // the file is truncated to nothing just before the first seek
    tag_end_changed,      // the first tag's last byte is overwritten just before the first seek
};

// A read-only stream over `bytes`, with `fault` in its reads or seeks.
std::FILE* open_bytes(const std::string& bytes, stream_fault fault = stream_fault::none);

// Leaves tag bytes on the stack where the next call's buffers will lie, so that a buffer read
// before it is written, or not cleared, shows tag bytes rather than whatever happened to be there.
// The tag repeats from its byte `shift`: over shifts 0 to 3, every byte of the stack holds each
// of the tag's bytes once.
void fill_stack_with_tags(int shift = 0);

inline const std::string BANNER = ";  KELDO v 0.01 by QOR\n";
inline const std::string CANNOT_OPEN = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF"
                                       "\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\n";
inline const std::string WAVE_HEAD = "@WT0 = {\n";
// The three definitions of a block of zero bytes after the first line of wave entries, and whole.
inline const std::string ZERO_REST = "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                     "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                     "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                     "}\n"
                                     "@v0 = {\n}\n"
                                     "@EP0 = {\n}\n";
inline const std::string ZERO_BLOCK = WAVE_HEAD + "$00 $00 $00 $00 $00 $00 $00 $00 \n" + ZERO_REST;
