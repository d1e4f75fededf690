// keldo FILE: prints the instrument block that follows the first "SNDF" tag in FILE as MML
// source. The manual page, keldo.1, is the reference for the output and the exit status.
#include "report.h"
#include "scan.h"

#include <cstdio>

namespace {

constexpr char USAGE[] = "; usage: keldo FILE\n";
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
        return fail_to_open();
    buffer_input(in);
    const int status = report_scan(in, find_tag(in));
    std::fclose(in);
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
    return close_stdout() ? status : STATUS_FAILED;
}
