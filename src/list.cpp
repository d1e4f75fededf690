// keldo-list [OPTION]... FILE...: every instrument in each FILE, as one MML source or as JSON
// Lines. Its help text, below, and its manual page, keldo-list.1, are the reference.
#include "listing.h"
#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr char HELP[] =
    "Usage: keldo-list [OPTION]... FILE...\n"
    "Print every instrument in each FILE: the block after each SNDF tag, in file order,\n"
    "as keldo prints the block after the first.\n"
    "\n"
    "The output is one MML source: the banner once, then for each FILE a line\n"
    "\"; file NAME\" and each instrument it holds, its \"; px = N\" line and its\n"
    "definitions, numbered across the run: @WT0, @v0 and @EP0 for the first\n"
    "instrument found, then 1, 2, and so on.\n"
    "\n"
    "  --json             one JSON object a line instead: one per instrument, and one\n"
    "                     per FILE that holds none or cannot be read\n"
    "  -m, --max-count=N  list at most N instruments of each FILE\n"
    "  --separate         each instrument as keldo alone prints it (the banner, the\n"
    "                     offset line, definitions numbered 0), followed by a NUL\n"
    "                     byte; a FILE without any, or that cannot be read, as keldo\n"
    "                     prints it too\n"
    "  --help             print this help and exit\n"
    "  --version          print the version and exit\n"
    "  --                 end the options: every argument after it is a FILE\n"
    "\n"
    "A FILE that cannot be read is named on standard error, and the run goes on.\n"
    "Exit status: 0 when every FILE was read, 1 when one could not be or the output\n"
    "could not be written, 2 for a usage error.\n";
constexpr char VERSION[] = "keldo-list (keldo) 0.01\n";
constexpr char TRY_HELP[] = "Try 'keldo-list --help' for more information.\n";

constexpr int EXIT_READ_FAILED = 1;
constexpr int EXIT_USAGE = 2;

#if defined(_WIN32)
// Names come in as UTF-8 (see wmain) and are opened by their UTF-16 form, so that a file of any
// language opens, as keldo's do.
std::FILE* open_input(const char* path)
{
    static wchar_t wide[32768];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, 32768) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    return _wfopen(wide, L"rb");
}
#else
std::FILE* open_input(const char* path) { return std::fopen(path, "rb"); }
#endif

bool parse_count(const char* text, std::int64_t& count)
{
    char* end = nullptr;
    errno = 0;
    count = std::strtoll(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && count > 0;
}

int usage_error(const char* what, const char* argument = nullptr)
{
    std::fprintf(stderr, argument ? "keldo-list: %s '%s'\n" : "keldo-list: %s\n", what, argument);
    std::fputs(TRY_HELP, stderr);
    return EXIT_USAGE;
}

bool is_option(const char* argument, const char* name)
{
    return std::strcmp(argument, name) == 0;
}

// Whether `argument` is an option that takes the next argument as its value.
bool takes_value(const char* argument)
{
    return is_option(argument, "-m") || is_option(argument, "--max-count");
}

// The index of the first FILE after argv[i], or argc. Options may stand anywhere before "--".
int next_file(int argc, char** argv, int i, bool& options_ended)
{
    while (++i < argc) {
        const char* argument = argv[i];
        if (options_ended || argument[0] != '-' || argument[1] == '\0')
            return i;
        if (is_option(argument, "--"))
            options_ended = true;
        else if (takes_value(argument))
            ++i;
    }
    return argc;
}

// Reads the options into `run`; returns the exit status when the run ends here (help, version,
// a usage error), else -1.
int parse_options(int argc, char** argv, list_run& run)
{
    bool options_ended = false;
    const bool any_file = next_file(argc, argv, 0, options_ended) < argc;
    for (int i = 1; i < argc && !is_option(argv[i], "--"); ++i) {
        const char* argument = argv[i];
        const char* count = nullptr;
        if (argument[0] != '-' || argument[1] == '\0')
            continue;
        if (is_option(argument, "--json"))
            run.form = list_form::json;
        else if (is_option(argument, "--separate"))
            run.form = list_form::separate;
        else if (is_option(argument, "--help"))
            return std::fputs(HELP, stdout), EXIT_SUCCESS;
        else if (is_option(argument, "--version"))
            return std::fputs(VERSION, stdout), EXIT_SUCCESS;
        else if (std::strncmp(argument, "--max-count=", 12) == 0)
            count = argument + 12;
        else if (!takes_value(argument))
            return usage_error("unknown option", argument);
        else if (++i < argc)
            count = argv[i];
        else
            return usage_error("a count must follow", argument);
        if (count && !parse_count(count, run.max_count))
            return usage_error("not a count of instruments:", count);
    }
    return any_file ? -1 : usage_error("no FILE given");
}

// Lists one FILE; false when it could not be read whole.
bool list_file(const char* path, list_run& run)
{
    std::FILE* in = open_input(path);
    const char* reason = nullptr;
    if (in == nullptr) {
        reason = std::strerror(errno);
        list_unopened(path, reason, run, stdout);
    } else {
        buffer_input(in);
        reason = list_input(in, path, run, stdout);
        std::fclose(in);
    }
    if (reason) {
        std::fputs("keldo-list: ", stderr);
        print_escaped_name(stderr, path);
        std::fprintf(stderr, ": %s\n", reason);
    }
    return reason == nullptr;
}

int run(int argc, char** argv)
{
    list_run run;
    const int ended = parse_options(argc, argv, run);
    if (ended >= 0)
        return close_stdout() ? ended : EXIT_READ_FAILED;
    begin_list(run, stdout);
    bool all_read = true;
    bool options_ended = false;
    // A failed write ends the run at once: a reader that closed the pipe wants no more.
    for (int i = next_file(argc, argv, 0, options_ended); i < argc && !std::ferror(stdout);
         i = next_file(argc, argv, i, options_ended))
        all_read = list_file(argv[i], run) && all_read;
    if (!close_stdout()) {
        std::fputs("keldo-list: the output could not be written\n", stderr);
        return EXIT_READ_FAILED;
    }
    return all_read ? EXIT_SUCCESS : EXIT_READ_FAILED;
}

} // namespace

#if defined(_WIN32)
// Windows hands the arguments over in UTF-16; they go on as UTF-8, which the options, the
// messages and the output take as they are.
int wmain(int argc, wchar_t** wide)
{
    // A command line holds at most 32767 UTF-16 units, each at most three bytes of UTF-8.
    static char text[3 * 32768];
    static char* argv[32768];
    char* next = text;
    for (int i = 0; i < argc; ++i) {
        argv[i] = next;
        next += WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, next, static_cast<int>(text + sizeof text - next),
                                    nullptr, nullptr);
    }
    return run(argc, argv);
}
#else
int main(int argc, char** argv)
{
    return run(argc, argv);
}
#endif
