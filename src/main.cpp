// keldo FILE: prints the instrument block that follows the first "SNDF" tag in FILE as MML
// source. The manual page, keldo.1, is the reference for the output and the exit status.
#include "dump.h"
#include "scan.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr char BANNER[] = ";  KELDO v 0.01 by QOR\n";
constexpr char USAGE[] = "; usage: keldo FILE\n";
constexpr char NOT_FOUND[] = "; not found\n";
// "The file cannot be opened", in Shift_JIS: users of this tool read it on code page 932.
constexpr char CANNOT_OPEN[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF"
                               "\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\n";
// The stream refills from the file in reads this large, so the scan's 4096-byte requests are
// copies from memory rather than one system call each.
constexpr std::size_t STREAM_BUFFER_SIZE = 128 * 1024;
char stream_buffer[STREAM_BUFFER_SIZE];
constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = -1;

int fail(const char* message)
{
    std::fputs(message, stdout);
    return STATUS_FAILED;
}

// An unreadable input is reported like one that cannot be opened: a partial scan must not
// pass for "not found", nor other bytes of the input for the block.
int scan_and_dump(std::FILE* in)
{
    const std::int64_t px = find_tag(in);
    if (px == SCAN_READ_ERROR)
        return fail(CANNOT_OPEN);
    if (px == TAG_NOT_FOUND) {
        std::fputs(NOT_FOUND, stdout);
        return STATUS_OK;
    }
    std::printf("; px = %" PRId64 "\n", px);
    return dump_instrument(in, px, stdout) ? STATUS_OK : fail(CANNOT_OPEN);
}

#if defined(_WIN32)
// Windows hands the arguments over in UTF-16: opened by that name, a file of any language opens,
// where the ANSI code page would have lost the characters outside it.
using path_char = wchar_t;
std::FILE* open_input(const wchar_t* path) { return _wfopen(path, L"rb"); }
#else
using path_char = char;
std::FILE* open_input(const char* path) { return std::fopen(path, "rb"); }
#endif

int run(const path_char* path)
{
    std::FILE* in = open_input(path);
    if (in == nullptr)
        return fail(CANNOT_OPEN);
    std::setvbuf(in, stream_buffer, _IOFBF, STREAM_BUFFER_SIZE);
    const int status = scan_and_dump(in);
    std::fclose(in);
    return status;
}

// Output that never reached its destination (a full disk, a closed standard output) is a failure
// too. A reader that closes the pipe early ends the run by SIGPIPE first, as for any filter.
int close_stdout(int status)
{
    const bool write_failed = std::ferror(stdout) != 0;
    if (std::fclose(stdout) != 0 || write_failed)
        return STATUS_FAILED;
    return status;
}

} // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    std::fputs(BANNER, stdout);
    const int status = argc < 2 ? fail(USAGE) : run(argv[1]);
    return close_stdout(status);
}
