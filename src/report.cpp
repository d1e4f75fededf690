// What keldo prints for one scan result, and how a run's output is closed.
#include "report.h"

#include "dump.h"
#include "scan.h"

#include <cinttypes>

namespace {

constexpr char NOT_FOUND[] = "; not found\n";
// "The file cannot be opened", in Shift_JIS: users of this tool read it on code page 932.
constexpr char CANNOT_OPEN[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF"
                               "\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\n";

constexpr std::size_t STREAM_BUFFER_SIZE = 128 * 1024;
char stream_buffer[STREAM_BUFFER_SIZE];

} // namespace

void buffer_input(std::FILE* in)
{
    std::setvbuf(in, stream_buffer, _IOFBF, STREAM_BUFFER_SIZE);
}

int fail(const char* message)
{
    std::fputs(message, stdout);
    return STATUS_FAILED;
}

int fail_to_open()
{
    return fail(CANNOT_OPEN);
}

int report_scan(std::FILE* in, std::int64_t px)
{
    if (px == SCAN_READ_ERROR)
        return fail_to_open();
    if (px == TAG_NOT_FOUND) {
        std::fputs(NOT_FOUND, stdout);
        return STATUS_OK;
    }
    std::printf("; px = %" PRId64 "\n", px);
    return dump_instrument(in, px, stdout) ? STATUS_OK : fail_to_open();
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
