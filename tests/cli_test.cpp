// End-to-end runs of the built tool: whole output, exit status and an empty standard error.
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>

namespace {

TEST(Cli, InputsAndArguments)
{
    const std::string empty = make_file("empty", "");
    const std::string at0 = make_file("at0", bytes_with(600, 0, "SNDF"));
    const std::string at4093 = make_file("at4093", bytes_with(5000, 4093, "SNDF"));
    const std::string none = make_file("none", bytes_with(5000, 4094, "SND"));
    const std::string spaced_dir = temp_path("dir with spaces");
    mkdir(spaced_dir.c_str(), 0700);
    const std::string at10 = write_file(spaced_dir + "/tag at 10.bin", bytes_with(600, 10, "SNDF"));
    const std::string link = temp_path("link");
    unlink(link.c_str());
    symlink(at10.c_str(), link.c_str());
    const run_case cases[] = {
        {"missing file", {temp_path("no-such-file")}, BANNER + CANNOT_OPEN, 255},
        {"directory", {::testing::TempDir()}, BANNER + CANNOT_OPEN, 255},
        {"no argument", {}, BANNER + "; usage: keldo FILE\n", 255},
        {"empty file", {empty}, BANNER + "; not found\n", 0},
        {"no tag", {none}, BANNER + "; not found\n", 0},
        {"tag at 0", {at0}, BANNER + "; px = 4\n" + ZERO_BLOCK, 0},
        {"tag at 10, path with spaces", {at10}, BANNER + "; px = 14\n" + ZERO_BLOCK, 0},
        {"symlink to a file", {link}, BANNER + "; px = 14\n" + ZERO_BLOCK, 0},
        {"/dev/null", {"/dev/null"}, BANNER + "; not found\n", 0},
        {"tag across the first chunk edge", {at4093}, BANNER + "; px = 4097\n" + ZERO_BLOCK, 0},
        {"extra arguments are ignored", {link, "--help", empty}, BANNER + "; px = 14\n" + ZERO_BLOCK, 0},
        {"missing file, extra arguments", {temp_path("no-such-file"), link}, BANNER + CANNOT_OPEN, 255},
    };
    for (const run_case& c : cases)
        expect_run(c);
}

// UTF-8 and Shift_JIS bytes in one name: the path is passed to the open untouched.
TEST(Cli, NonAsciiBytesInPath)
{
    if (testing_wasm_module())
        GTEST_SKIP() << "a name that is not valid UTF-8 cannot reach a WASI program's arguments";
    const std::string path = make_file("\xE9\x9F\xB3 son\xC3\xA9 \x83\x74.bin", bytes_with(600, 10, "SNDF"));
    expect_run({"non-ASCII path", {path}, BANNER + "; px = 14\n" + ZERO_BLOCK, 0});
}

// The manual pages show the sample's output byte for byte: in a page's source, "\-" is a minus
// sign and "\&" keeps a line's trailing space.
TEST(Cli, ManualPageExamplesAreTheOutput)
{
    const struct {
        const char* page;
        const char* command;  // as the page shows it
        std::vector<std::string> args;
        tool program;
    } examples[] = {
        {"keldo.1", "keldo samples/demo.bin", {"samples/demo.bin"}, tool::keldo},
        {"keldo-list.1", "keldo\\-list samples/demo.bin", {"samples/demo.bin"}, tool::keldo_list},
        {"keldo-list.1", "keldo\\-list \\-\\-json samples/demo.bin", {"--json", "samples/demo.bin"}, tool::keldo_list},
    };
    for (const auto& e : examples) {
        const std::string page = read_file(KELDO_SOURCE_DIR "/" + std::string(e.page));
        const std::string command = ".RB \"$ \" \"" + std::string(e.command) + "\"\n";
        const std::size_t at = page.find(command);
        ASSERT_NE(at, std::string::npos) << e.command;
        const std::size_t from = at + command.size();
        std::string example = page.substr(from, page.find("\n.fi\n", from) + 1 - from);
        example = std::regex_replace(std::regex_replace(example, std::regex(R"(\\-)"), "-"), std::regex(R"(\\&)"), "");
        expect_run({e.command, e.args, example, 0, "", e.program, KELDO_SOURCE_DIR});
    }
}

TEST(Cli, FailedWriteFailsTheRun)
{
    const std::string at10 = make_file("full", bytes_with(600, 10, "SNDF"));
    for (const char* out : {"/dev/full", CLOSED_STDOUT}) {
        if (out == CLOSED_STDOUT && testing_wasm_module())
            GTEST_SKIP() << "closed stdout: Node hands a WASI program /dev/null in its place (/dev/full was tested)";
        const run_result r = run_keldo({at10}, {out});
        EXPECT_EQ(r.status, 255) << "stdout: '" << out << "'";
        EXPECT_EQ(r.err, "") << "stdout: '" << out << "'";
    }
}

// Line-buffered, every write fails as it happens and the last flush has nothing left to fail on:
// only the stream's error flag tells.
TEST(Cli, FailedLineBufferedWriteFailsTheRun)
{
    if (std::getenv("KELDO_RUNNER"))
        GTEST_SKIP() << "stdbuf cannot set the buffering of a program inside an emulator";
    const run_result r = run_keldo({make_file("full", bytes_with(600, 10, "SNDF"))}, {"/dev/full", true});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "");
}

// keldo-list's instrument at `px` as the run's `number`th: its offset line and definitions.
std::string listed(std::int64_t px, int number, std::string definitions = ZERO_BLOCK)
{
    for (const char* name : {"@WT", "@v", "@EP"}) {
        const std::string from = std::string(name) + "0 = {";
        definitions.replace(definitions.find(from), from.size(), name + std::to_string(number) + " = {");
    }
    return "; px = " + std::to_string(px) + "\n" + definitions;
}

const std::string TRY_HELP = "Try 'keldo-list --help' for more information.\n";

TEST(List, FilesAndOptions)
{
    const std::string one = make_file("one.bin", bytes_with(600, 10, "SNDF"));
    const std::string two = make_file("two.bin", bytes_with(9000, 4093, "SNDF").replace(6000, 4, "SNDF"));
    const std::string none = make_file("none.bin", bytes_with(5000, 4094, "SND"));
    const std::string empty = make_file("empty.bin", "");
    const std::string missing = temp_path("missing.bin");
    const std::string dashed_dir = temp_path("dashed");
    mkdir(dashed_dir.c_str(), 0700);
    write_file(dashed_dir + "/-x", bytes_with(600, 0, "SNDF"));
    // Pitch entries 0x80 and 0x00, printed -0 and 0: told apart by their bytes.
    const std::string zeros = make_file("zeros.bin", "SNDF" + bytes_with(512, 74, "\x80").replace(106, 2, "\x02\x01"));
    const std::string head = BANNER + "; file ";
    const std::string list = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";
    const std::string json_zeros = "{\"type\":\"instrument\",\"file\":{\"text\":\"" + zeros + "\"},\"number\":0,"
                                   "\"number_in_file\":0,\"px\":4,\"wave\":" + list + ",\"volume\":{\"entries\":[],"
                                   "\"length\":0,\"loop\":0},\"pitch\":{\"entries\":[128,0],\"length\":2,\"loop\":1}}\n";
    const run_case cases[] = {
        {"several files, numbered across them, one missing in the middle", {one, missing, two},
         head + one + "\n" + listed(14, 0) + head.substr(BANNER.size()) + two + "\n" + listed(4097, 1) + listed(6004, 2),
         1, "keldo-list: " + missing + ": No such file or directory\n"},
        {"files without an instrument", {none, empty}, head + none + "\n; file " + empty + "\n", 0},
        {"options after the files; at most one instrument a file", {two, one, "-m", "1"},
         head + two + "\n" + listed(4097, 0) + "; file " + one + "\n" + listed(14, 1), 0},
        {"--max-count=", {"--max-count=1", two}, head + two + "\n" + listed(4097, 0), 0},
        {"-m1 and --max-count 1: the count in the option's word or the next", {"-m1", two, "--max-count", "1", one},
         head + two + "\n" + listed(4097, 0) + "; file " + one + "\n" + listed(14, 1), 0},
        {"-- ends the options: a file named -x", {"--", "-x"}, head + "-x\n" + listed(4, 0), 0, "", tool::keldo_list, dashed_dir.c_str()},
        {"JSON: the pitch byte 0x80 is not 0x00", {"--json", zeros}, json_zeros, 0},
        {"JSON: a file without an instrument, and one that cannot be opened", {empty, "--json", missing},
         "{\"type\":\"none\",\"file\":{\"text\":\"" + empty + "\"}}\n"
         "{\"type\":\"error\",\"file\":{\"text\":\"" + missing + "\"},\"error\":\"No such file or directory\"}\n",
         1, "keldo-list: " + missing + ": No such file or directory\n"},
        {"--version", {"--version", one}, "keldo-list (keldo) 0.01\n", 0},
        {"an unknown option", {one, "-x"}, "", 2, "keldo-list: unknown option '-x'\n" + TRY_HELP},
        {"a count that is not one", {"-m", "0", one}, "", 2, "keldo-list: not a count of instruments: '0'\n" + TRY_HELP},
        {"-m without a count", {one, "-m"}, "", 2, "keldo-list: a count must follow '-m'\n" + TRY_HELP},
        {"no FILE", {"--json"}, "", 2, "keldo-list: no FILE given\n" + TRY_HELP},
    };
    for (run_case c : cases) {
        c.program = tool::keldo_list;
        expect_run(c);
    }
}

// A file that opens but cannot be read: its line, then nothing; it is named on standard error
// with the system's reason, and the run fails.
TEST(List, UnreadableFile)
{
    if (testing_windows_build())
        GTEST_SKIP() << "Windows opens no directory as a file: that is the missing file's row";
    const std::string folder = ::testing::TempDir();
    const run_result r = run_keldo({folder}, {nullptr, false, nullptr, tool::keldo_list});
    EXPECT_EQ(r.out, BANNER + "; file " + folder + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("keldo-list: " + folder + ": [A-Z][a-z ]+\n"))) << r.err;
}

// The help is the documentation: it names every option the parser takes.
TEST(List, HelpNamesEveryOption)
{
    const run_result r = run_keldo({"--help", "-x"}, {nullptr, false, nullptr, tool::keldo_list});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Usage: keldo-list [OPTION]... FILE...\n", 0), 0u) << r.out;
    for (const char* option : {"--json", "-m, --max-count=N", "-r, --recursive", "--separate", "--help", "--version", "\n  -- "})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

// In its separate form, entry k is what keldo prints for the file with the tags before the kth
// overwritten; a file without a tag and one that cannot be read, what keldo prints for them.
TEST(List, SeparateIsKeldoForEachTag)
{
    std::string bytes = bytes_with(20000, 10, "SNDF\x01\x02");
    const std::int64_t tags[] = {10, 4093, 4200, 17000};
    for (std::int64_t at : tags)
        bytes.replace(at, 5, "SNDF" + std::string(1, static_cast<char>(at)));
    const std::string several = make_file("several.bin", bytes);
    std::string expected;
    for (std::int64_t at : tags) {
        expected += run_keldo({make_file("copy.bin", bytes)}).out + '\0';
        bytes.replace(at, 4, "xxxx");
    }
    const std::string missing = temp_path("missing.bin");
    const std::string none = make_file("none.bin", "SND");
    expected += run_keldo({missing}).out + '\0' + run_keldo({none}).out + '\0';
    expect_run({"separate", {"--separate", several, missing, none}, expected, 1,
                "keldo-list: " + missing + ": No such file or directory\n", tool::keldo_list});
}

// A reader that goes away ends the run at once, though the file goes on for a terabyte (a sparse
// one): read to its end, it would outlast the time limit. Likewise a full disk.
TEST(List, FailedWriteEndsTheRun)
{
    const std::string path = temp_path("terabyte.bin");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "SNDF", 4, 10), 4);
    ASSERT_EQ(ftruncate(fd, std::int64_t{1} << 40), 0);
    close(fd);
    for (const char* out : {BROKEN_PIPE, "/dev/full"}) {
        const run_result r = run_keldo({path}, {out, false, nullptr, tool::keldo_list});
        EXPECT_EQ(r.status, 1) << out;
        // Windows' C runtime takes a write to a pipe with no reader for an invalid argument.
        const int reason = out != BROKEN_PIPE ? ENOSPC : testing_windows_build() ? EINVAL : EPIPE;
        EXPECT_EQ(r.err, "keldo-list: the output could not be written: " + std::string(std::strerror(reason)) + "\n") << out;
    }
    unlink(path.c_str());
}

// Standard input, a pipe that cannot go back, lists as the file it carries: tags on both sides
// of the reader's window, the last block cut short by the end.
TEST(List, StandardInputIsTheFile)
{
    std::string bytes = bytes_with(200000, 10, "SNDF\x01").replace(66040, 5, "SNDF\x02").replace(199800, 5, "SNDF\x03");
    const std::string file = make_file("piped.bin", bytes);
    std::string expected = run_keldo({file}, {nullptr, false, nullptr, tool::keldo_list}).out;
    expected.replace(expected.find(file), file.size(), "-");
    const run_result r = run_keldo({"-"}, {nullptr, false, nullptr, tool::keldo_list, file.c_str()});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 0) << r.err;
}

// -r lists a folder's files as if they were named one by one in the order of their paths,
// whatever order the folder gives them in.
TEST(List, RecursiveIsTheFilesInPathOrder)
{
    const std::string tree = temp_path("tree");
    std::vector<std::string> files;
    for (const char* name : {"b.bin", "a/z.bin", "a/x/y.bin", "a.bin", "c/empty.bin"}) {
        const std::string path = tree + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        files.push_back(write_file(path, name[0] == 'c' ? "" : bytes_with(3000, 3, "SNDF").replace(1000, 5, "SNDF" + std::string(name, 1))));
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> named = {"-m2", "--json"};
    named.insert(named.end(), files.begin(), files.end());
    const run_result walked = run_keldo({"-m2", "-r", "--json", tree}, {nullptr, false, nullptr, tool::keldo_list});
    EXPECT_EQ(walked.out, run_keldo(named, {nullptr, false, nullptr, tool::keldo_list}).out);
    EXPECT_EQ(walked.status, 0) << walked.err;
}

// Names are bytes: every one gives a line that a JSON parser reads, and gives back the name,
// from its text or, where it is not UTF-8, from its bytes; json.tool reads the lines too.
TEST(List, EveryNameIsValidJson)
{
    if (testing_windows_build())
        GTEST_SKIP() << "Windows names hold neither control characters nor bytes that are not UTF-8";
    const struct {
        const char* name;
        bool utf8;
    } names[] = {
        {"plain.bin", true}, {"quote\"d.bin", true}, {"back\\slash.bin", true}, {"line\nfeed.bin", true},
        {"tab\tand\x01\x1f\x7f.bin", true}, {"\xE6\xA5\xBD\xE5\x99\xA8.bin", true}, {"\xF0\x9F\x8E\xB9.bin", true},
        {"\x83\x74\x83\x40.bin", false},  // Shift_JIS
        {"\xFF.bin", false}, {"\xC0\xAF.bin", false}, {"\xED\xA0\x80.bin", false},  // stray, overlong, surrogate
        {"\xE6\xA5.bin", false}, {"\xF4\x90\x80\x80.bin", false},  // cut short, past U+10FFFF
    };
    const std::string folder = temp_path("names");
    mkdir(folder.c_str(), 0700);
    std::vector<std::string> args = {"--json"};
    for (const auto& n : names) {
        if (n.utf8 || !testing_wasm_module())  // WASI passes arguments only as UTF-8
            args.push_back(write_file(folder + "/" + n.name, bytes_with(600, 10, "SNDF")));
    }
    const run_result r = run_keldo(args, {nullptr, false, nullptr, tool::keldo_list});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = make_file("names.jsonl", r.out);
    const std::string decoded = temp_path("decoded");
    const std::string command = "python3 -c 'import base64, json, sys\n"
                                "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
                                "    name = json.loads(line)[\"file\"]\n"
                                "    sys.stdout.buffer.write(name[\"text\"].encode() if \"text\" in name else base64.b64decode(name[\"bytes\"]))\n"
                                "    sys.stdout.buffer.write(bytes(1))' " + json + " > " + decoded +
                                " && python3 -m json.tool --json-lines " + json + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string expected;
    for (std::size_t i = 1; i < args.size(); ++i)
        expected += args[i] + '\0';
    EXPECT_EQ(read_file(decoded), expected);
}

} // namespace
