// keldo-list [OPTION]... FILE...: every instrument in each FILE, as one MML source or as JSON
// Lines. Its help text, below, and its manual page, keldo-list.1, are the reference.
#include "unpack.h"
#include "folder_walk.h"
#include "listing.h"
#include "report.h"

#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

constexpr char HELP[] =
    "Usage: keldo-list [OPTION]... FILE...\n"
    "Print every instrument in each FILE: the block after each SNDF tag, in file order,\n"
    "as keldo prints the block after the first. With FILE -, read standard input.\n"
    "\n"
    "The output is one MML source: the banner once, then for each FILE a line\n"
    "\"; file NAME\" and each instrument it holds, its \"; px = N\" line and its\n"
    "definitions, numbered across the run: @WT0, @v0 and @EP0 for the first\n"
    "instrument found, then 1, 2, and so on.\n"
    "\n"
    "  --json             one JSON object a line instead: one per instrument, and one\n"
    "                     per FILE that holds none or cannot be read\n"
    "  -m, --max-count=N  list at most N instruments of each FILE\n"
    "  -r, --recursive    list the files under each FILE that is a folder, followed\n"
    "                     down its subfolders, in the order of their paths\n"
    "  --max-unpacked=SIZE  stop unpacking an archive once its members, members of\n"
    "                     members too, reach SIZE bytes (K, M, G, T: 1024 times\n"
    "                     more each; 16G unless given)\n"
    "  --separate         each instrument as keldo alone prints it (the banner, the\n"
    "                     offset line, definitions numbered 0), followed by a NUL\n"
    "                     byte; a FILE without any, or that cannot be read, as keldo\n"
    "                     prints it too\n"
    "  --help             print this help and exit\n"
    "  --version          print the version and exit\n"
    "  --                 end the options: every argument after it is a FILE\n"
    "\n"
    "A FILE that is an archive (zip, 7z, LHA, RAR, ISO 9660, tar, or a file\n"
    "compressed whole) lists each file in it as ARCHIVE:MEMBER, members of members\n"
    "too, three deep; --version says whether this build unpacks them.\n"
    "Every instrument's line says which checks make it doubtful: an envelope longer\n"
    "than 32, a loop index not below its length, a block cut short by the end of\n"
    "its input, values that are mostly text, a flat wave.\n"
    "\n"
    "Options may stand before, between or after the FILEs.\n"
    "A FILE that cannot be read is named on standard error, and the run goes on.\n"
    "Exit status: 0 when every FILE was read, 1 when one could not be or the output\n"
    "could not be written, 2 for a usage error.\n";
constexpr char VERSION[] = "keldo-list (keldo) 0.01\n";
constexpr char TRY_HELP[] = "Try 'keldo-list --help' for more information.\n";
constexpr char STANDARD_INPUT[] = "-";

constexpr int EXIT_READ_FAILED = 1;
constexpr int EXIT_USAGE = 2;
// What parse_options returns when the run goes on to the FILEs.
constexpr int RUN_ON = -1;

// The long options' values that no short option has.
enum long_only { JSON = 256, SEPARATE, MAX_UNPACKED_OPTION, HELP_OPTION, VERSION_OPTION };

constexpr option OPTIONS[] = {
    {"json", no_argument, nullptr, JSON},
    {"max-count", required_argument, nullptr, 'm'},
    {"recursive", no_argument, nullptr, 'r'},
    {"separate", no_argument, nullptr, SEPARATE},
    {"max-unpacked", required_argument, nullptr, MAX_UNPACKED_OPTION},
    {"help", no_argument, nullptr, HELP_OPTION},
    {"version", no_argument, nullptr, VERSION_OPTION},
    {nullptr, 0, nullptr, 0},
};

struct list_options {
    list_run run;
    unpack_bound bound;
    bool recursive = false;
};

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

// Standard input's bytes as they are, with no CR LF turned into LF and no end at a Ctrl+Z.
std::FILE* binary_stdin()
{
    _setmode(_fileno(stdin), _O_BINARY);
    return stdin;
}
#else
std::FILE* open_input(const char* path) { return std::fopen(path, "rb"); }
std::FILE* binary_stdin() { return stdin; }
#endif

bool parse_count(const char* text, std::int64_t& count)
{
    char* end = nullptr;
    errno = 0;
    count = std::strtoll(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && count > 0;
}

// A size in bytes, with K, M, G or T for 1024 times more each.
bool parse_size(const char* text, std::int64_t& size)
{
    char* end = nullptr;
    errno = 0;
    size = std::strtoll(text, &end, 10);
    const char* unit = std::strchr("KMGT", *end);
    const int shift = *end && unit ? 10 * static_cast<int>(unit - "KMGT" + 1) : 0;
    const bool whole = *end == '\0' || (unit && end[1] == '\0');
    if (!(*text >= '0' && *text <= '9' && whole && errno == 0 && size > 0 && size <= (INT64_MAX >> shift)))
        return false;
    size <<= shift;
    return true;
}

int usage_error(const char* what, const char* argument = nullptr, int length = -1)
{
    if (argument)
        std::fprintf(stderr, "keldo-list: %s '%.*s'\n", what, length, argument);
    else
        std::fprintf(stderr, "keldo-list: %s\n", what);
    std::fputs(TRY_HELP, stderr);
    return EXIT_USAGE;
}

// The option getopt_long refused, as the user typed it: "-x", or "--name" without its value.
int refused(const char* what, char** argv, int short_option)
{
    const char* typed = argv[optind - 1];
    if (short_option == 0 || std::strncmp(typed, "--", 2) == 0)
        return usage_error(what, typed, static_cast<int>(std::strcspn(typed, "=")));
    const char text[] = {'-', static_cast<char>(short_option), '\0'};
    return usage_error(what, text);
}

// Prints the help or the version, keeping a failed write's reason for the end of the run: once
// a write failed, the C library may drop what it holds, and closing finds nothing left to fail on.
int print_text(const char* text, const char* more, list_run& run)
{
    errno = 0;
    if (std::fputs(text, stdout) == EOF || std::fputs(more, stdout) == EOF || std::fflush(stdout) == EOF)
        run.write_error = errno != 0 ? errno : EIO;
    return EXIT_SUCCESS;
}

// Reads the options into `options`, leaving optind at the first FILE (getopt_long moves the
// FILEs after the options); returns the exit status when the run ends here (help, version, a
// usage error), else RUN_ON.
int parse_options(int argc, char** argv, list_options& options)
{
    opterr = 0;  // its messages are ours
    for (int option; (option = getopt_long(argc, argv, ":m:r", OPTIONS, nullptr)) != -1;) {
        switch (option) {
        case JSON:
            options.run.form = list_form::json;
            break;
        case SEPARATE:
            options.run.form = list_form::separate;
            break;
        case 'm':
            if (!parse_count(optarg, options.run.max_count))
                return usage_error("not a count of instruments:", optarg);
            break;
        case 'r':
            options.recursive = true;
            break;
        case MAX_UNPACKED_OPTION:
            if (!parse_size(optarg, options.bound.max_unpacked))
                return usage_error("not a size in bytes:", optarg);
            options.bound.max_unpacked_text = optarg;
            break;
        case HELP_OPTION:
            return print_text(HELP, "", options.run);
        case VERSION_OPTION:
            return print_text(VERSION, archive_support(), options.run);
        case ':':
            return refused(optopt == 'm' ? "a count must follow" : "a size must follow", argv, optopt);
        default:
            return refused("unknown option", argv, optopt);
        }
    }
    return optind < argc ? RUN_ON : usage_error("no FILE given");
}

// Lists one FILE, or standard input for "-", or the files in it if it is an archive; false when
// one could not be read whole.
bool list_file(const char* path, list_options& options)
{
    const bool standard_input = std::strcmp(path, STANDARD_INPUT) == 0;
    std::FILE* in = standard_input ? binary_stdin() : open_input(path);
    if (in == nullptr) {
        const char* reason = std::strerror(errno);
        list_unopened({path, nullptr}, reason, options.run, stdout);
        report_unread({path, nullptr}, reason);
        return false;
    }
    buffer_input(in);
    const bool read = list_unpacking(in, {path, nullptr}, options.bound, options.run, stdout);
    if (!standard_input)
        std::fclose(in);
    return read;
}

struct walk {
    list_options& options;
    bool all_read;
};

bool visit(const char* path, void* context)
{
    walk& w = *static_cast<walk*>(context);
    w.all_read = list_file(path, w.options) && w.all_read;
    return w.options.run.write_error == 0;
}

// Lists one FILE argument: with -r, a folder's files one by one.
bool list_argument(const char* path, list_options& options)
{
    if (!options.recursive || std::strcmp(path, STANDARD_INPUT) == 0 || !is_folder(path))
        return list_file(path, options);
    walk w{options, true};
    if (!walk_folder(path, visit, &w) && options.run.write_error == 0) {
        report_unread({path, nullptr}, std::strerror(errno));
        return false;
    }
    return w.all_read;
}

// Closes standard output; false, after saying why, when a write to it failed.
bool output_closed(int write_error)
{
    errno = 0;
    if (close_stdout() && write_error == 0)
        return true;
    const int reason = write_error != 0 ? write_error : errno != 0 ? errno : EIO;
    std::fprintf(stderr, "keldo-list: the output could not be written: %s\n", std::strerror(reason));
    return false;
}

int run(int argc, char** argv)
{
    list_options options;
    const int ended = parse_options(argc, argv, options);
    if (ended != RUN_ON)
        return output_closed(options.run.write_error) ? ended : EXIT_READ_FAILED;
    begin_list(options.run, stdout);
    bool all_read = true;
    // A failed write ends the run at once: a reader that closed the pipe wants no more.
    for (int i = optind; i < argc && options.run.write_error == 0; ++i)
        all_read = list_argument(argv[i], options) && all_read;
    if (!output_closed(options.run.write_error))
        return EXIT_READ_FAILED;
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
