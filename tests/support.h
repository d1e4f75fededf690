// Test helpers: the built tool run as a user would run it, input files, and streams over bytes
// whose reads and seeks fail on purpose.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct run_result {
    int status;
    std::string out;
    std::string err;
};

enum class tool { keldo, keldo_list };

// Runs keldo (or keldo-list) with `args`, from the folder `cwd` when given, killed after
// RUN_TIME_LIMIT seconds so that a hang fails the test; standard output goes to `stdout_path`
// when given (and is then not captured), is closed for CLOSED_STDOUT, or is a pipe whose reader
// has gone for BROKEN_PIPE (with SIGPIPE ignored, so that the tool must see the failed write
// itself), and is line-buffered under `line_buffered`; standard input is a pipe that the file
// `stdin_path` is written into, or /dev/null.
struct run_options {
    const char* stdout_path = nullptr;
    bool line_buffered = false;
    const char* cwd = nullptr;
    tool program = tool::keldo;
    const char* stdin_path = nullptr;
};
run_result run_keldo(const std::vector<std::string>& args, const run_options& options = {});
constexpr char CLOSED_STDOUT[] = "";
constexpr char BROKEN_PIPE[] = "|";
constexpr unsigned RUN_TIME_LIMIT = 100;

struct run_case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string err = "";
    tool program = tool::keldo;
    const char* cwd = nullptr;
};

// Whether the tool under test is a WebAssembly module (KELDO_BINARY names a .wasm file): WASI
// passes arguments only as UTF-8, and Node gives a closed standard output a /dev/null instead.
bool testing_wasm_module();

// Whether the tool under test is a Windows build (KELDO_BINARY names a .exe file).
bool testing_windows_build();

// Runs `c.program` on `c.args` and expects exactly `c.out`, `c.status` and `c.err`.
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

constexpr std::int64_t FAULT_AT = 400;

enum class stream_fault {
    none,
    glitch,               // the first read that reaches the fault's offset fails with EIO; later ones work
    bad_sector,           // every read that reaches the fault's offset fails with EIO
    silent_bad_sector,    // as bad_sector, but the failing read leaves errno 0
    seek_stays_put,       // a seek reports success and does not move, like a random-number device
    emptied_before_seek,  // the file is truncated to nothing just before the first seek
    tag_end_changed,      // the first tag's last byte is overwritten just before the first seek
};

// Called with the offset and the size of each read of a stream, before it is served.
using read_hook = std::function<void(std::int64_t offset, std::int64_t size)>;

// A read-only stream over `bytes`, with `fault` in its reads (at offset `fault_at`) or seeks,
// and `on_read`, if given, called at each read.
std::FILE* open_bytes(const std::string& bytes, stream_fault fault = stream_fault::none,
                      std::int64_t fault_at = FAULT_AT, read_hook on_read = {});

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
