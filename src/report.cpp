// What keldo prints for one scan result, and how a run's output is closed.
#include "report.h"

#include "dump.h"
#include "scan.h"

#include <cinttypes>

namespace {

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

void print_offset(std::FILE* out, std::int64_t px)
{
    std::fprintf(out, "; px = %" PRId64 "\n", px);
}

int report_scan(std::FILE* in, std::int64_t px)
{
    if (px == SCAN_READ_ERROR)
        return fail_to_open();
    if (px == TAG_NOT_FOUND) {
        std::fputs(NOT_FOUND, stdout);
        return STATUS_OK;
    }
    print_offset(stdout, px);
    return dump_instrument(in, px, stdout) ? STATUS_OK : fail_to_open();
}

// Output that never reached its destination (a full disk, a closed standard output) is a failure
// too. A reader that closes the pipe early ends the run by SIGPIPE first, as for any filter.
bool close_stdout()
{
    const bool write_failed = std::ferror(stdout) != 0;
    return std::fclose(stdout) == 0 && !write_failed;
}
