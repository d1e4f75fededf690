// keldo-list FILE COUNT: the page's program. For each of the first COUNT tags of FILE, in file
// order, it prints what keldo prints for a copy of FILE in which the tags before that one are
// overwritten: the banner, the offset line with the tag's true offset, and its block. Entry 0 is
// therefore keldo's own output for FILE, also when FILE holds no tag or cannot be read. Each
// entry ends in a NUL byte and is flushed at once, so that the page can show it while the scan
// goes on. The file is read once, front to back; each block is read again as keldo reads it.
#include "report.h"
#include "scan.h"

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char USAGE[] = "; usage: keldo-list FILE COUNT\n";

void end_entry()
{
    std::fputc('\0', stdout);
    std::fflush(stdout);
}

// The scan goes on right after the tag at `px`: no tag can begin inside another, and the bytes
// before `px` are no longer searched, as if the tags there had been overwritten.
std::int64_t next_tag(std::FILE* in, std::int64_t px)
{
    return fseeko(in, static_cast<off_t>(px), SEEK_SET) == 0 ? find_tag(in, px) : SCAN_READ_ERROR;
}

int list_entries(std::FILE* in, std::int64_t count)
{
    std::int64_t px = 0;
    for (std::int64_t k = 0; k < count; ++k) {
        px = k == 0 ? find_tag(in) : next_tag(in, px);
        if (k > 0 && px == TAG_NOT_FOUND)
            break;
        std::fputs(BANNER, stdout);
        const int status = report_scan(in, px);
        end_entry();
        if (status != STATUS_OK || px == TAG_NOT_FOUND)
            return status;
    }
    return STATUS_OK;
}

int run(const char* path, std::int64_t count)
{
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) {
        std::fputs(BANNER, stdout);
        const int status = fail_to_open();
        end_entry();
        return status;
    }
    buffer_input(in);
    const int status = list_entries(in, count);
    std::fclose(in);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::int64_t count = argc < 3 ? 0 : std::strtoll(argv[2], nullptr, 10);
    const int status = count < 1 ? fail(USAGE) : run(argv[1], count);
    return close_stdout(status);
}
