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
#include <iterator>
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

// keldo-list's instrument at `px` as the run's `number`th: its offset line, the checks it fails
// (a block of zeros: its loop index 0 is not below its length 0, and its wave is flat) and its
// definitions.
std::string listed(std::int64_t px, int number, std::string definitions = ZERO_BLOCK, const char* doubts = "loop, flat")
{
    for (const char* name : {"@WT", "@v", "@EP"}) {
        const std::string from = std::string(name) + "0 = {";
        definitions.replace(definitions.find(from), from.size(), name + std::to_string(number) + " = {");
    }
    return "; px = " + std::to_string(px) + "\n" + (*doubts ? "; doubtful: " + std::string(doubts) + "\n" : "") + definitions;
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
    // Two instruments whose lengths and loop indexes are bytes of 0x80 and above, and one with
    // volume entries.
    std::string high = "SNDF" + bytes_with(596, 36, "\x01\x02\x03").replace(68, 2, "\x83\xff").replace(74, 2, "\x05\x85").replace(106, 2, "\x02\x80");
    high = make_file("high.bin", high + "SNDF" + bytes_with(512, 36, "\x07\x08\x09").replace(68, 2, "\x03\x01"));
    const std::string head = BANNER + "; file ";
    const std::string list = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";
    const std::string json_zeros = "{\"type\":\"instrument\",\"file\":{\"text\":\"" + zeros + "\"},\"number\":0,"
                                   "\"number_in_file\":0,\"px\":4,\"wave\":" + list + ",\"volume\":{\"entries\":[],"
                                   "\"length\":0,\"loop\":0},\"pitch\":{\"entries\":[128,0],\"length\":2,\"loop\":1},"
                                   "\"doubtful\":[\"loop\",\"flat\"]}\n";
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
        {"JSON: the pitch byte 0x80 is not 0x00; a second file's instruments numbered in the run and in the file", {"--json", zeros, high},
         json_zeros + "{\"type\":\"instrument\",\"file\":{\"text\":\"" + high + "\"},\"number\":1,\"number_in_file\":0,\"px\":4,\"wave\":" + list +
             ",\"volume\":{\"entries\":[],\"length\":131,\"loop\":255},\"pitch\":{\"entries\":[5,133],\"length\":2,\"loop\":128},\"doubtful\":[\"flat\"]}\n"
             "{\"type\":\"instrument\",\"file\":{\"text\":\"" + high + "\"},\"number\":2,\"number_in_file\":1,\"px\":604,\"wave\":" + list +
             ",\"volume\":{\"entries\":[7,8,9],\"length\":3,\"loop\":1},\"pitch\":{\"entries\":[],\"length\":0,\"loop\":0},\"doubtful\":[\"loop\",\"flat\"]}\n",
         0},
        {"JSON: a file without an instrument, and one that cannot be opened", {empty, "--json", missing},
         "{\"type\":\"none\",\"file\":{\"text\":\"" + empty + "\"}}\n"
         "{\"type\":\"error\",\"file\":{\"text\":\"" + missing + "\"},\"error\":\"No such file or directory\"}\n",
         1, "keldo-list: " + missing + ": No such file or directory\n"},
        {"an unknown option", {one, "-x"}, "", 2, "keldo-list: unknown option '-x'\n" + TRY_HELP},
        {"a count that is not one", {"-m", "0", one}, "", 2, "keldo-list: not a count of instruments: '0'\n" + TRY_HELP},
        {"a count with more after it", {"-m", "2x", one}, "", 2, "keldo-list: not a count of instruments: '2x'\n" + TRY_HELP},
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
    // Its name holds an escape, a delete and a backslash: each written so that the line shows it,
    // and so that no other name is written alike.
    const std::string folder = temp_path("un\x1b\x7f\\read");
    mkdir(folder.c_str(), 0700);
    const std::string written = temp_path("un\\x1b\\x7f\\\\read");
    const run_result r = run_keldo({folder}, {nullptr, false, nullptr, tool::keldo_list});
    EXPECT_EQ(r.out, BANNER + "; file " + written + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("keldo-list: " + std::regex_replace(written, std::regex(R"(\\)"), R"(\\)") + ": [A-Z][a-z ]+\n"))) << r.err;
}

// The help is the documentation: it names every option the parser takes.
TEST(List, HelpNamesEveryOption)
{
    const run_result r = run_keldo({"--help", "-x"}, {nullptr, false, nullptr, tool::keldo_list});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Usage: keldo-list [OPTION]... FILE...\n", 0), 0u) << r.out;
    for (const char* option : {"--json", "-m, --max-count=N", "-r, --recursive", "--max-unpacked=SIZE", "--separate", "--help", "--version", "\n  -- "})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    // The version, and whether this build unpacks archives, whatever FILEs follow.
    const run_result version = run_keldo({"--version", "no-such-file"}, {nullptr, false, nullptr, tool::keldo_list});
    EXPECT_TRUE(std::regex_match(version.out, std::regex("keldo-list \\(keldo\\) 0\\.01\narchives: (unpacked by libarchive|read as their bytes).*\n"))) << version.out;
}

// In its separate form, entry k is what keldo prints for the file with the tags before the kth
// overwritten, then its doubts; a file without a tag and one that cannot be read, what keldo
// prints for them, and no doubts.
TEST(List, SeparateIsKeldoForEachTag)
{
    std::string bytes = bytes_with(20000, 10, "SNDF\x01\x02");
    const std::int64_t tags[] = {10, 4093, 4200, 17000};
    for (std::int64_t at : tags)
        bytes.replace(at, 5, "SNDF" + std::string(1, static_cast<char>(at)));
    const std::string several = make_file("several.bin", bytes);
    // Each entry's doubts after it, as --json gives them.
    std::string json = run_keldo({"--json", several}, {nullptr, false, nullptr, tool::keldo_list}).out;
    std::string expected;
    for (std::int64_t at : tags) {
        const std::size_t doubts = json.find("\"doubtful\":[") + 13;
        std::string names;  // "length","loop" as length, loop
        for (std::size_t i = doubts; json[i] != ']'; ++i)
            names += json[i] == ',' ? ", " : json[i] == '"' ? "" : std::string(1, json[i]);
        json.erase(0, json.find('\n') + 1);
        expected += run_keldo({make_file("copy.bin", bytes)}).out + '\0' + names + '\0';
        bytes.replace(at, 4, "xxxx");
    }
    const std::string missing = temp_path("missing.bin");
    const std::string none = make_file("none.bin", "SND");
    expected += run_keldo({missing}).out + std::string(2, '\0') + run_keldo({none}).out + std::string(2, '\0');
    expect_run({"separate", {"--separate", several, missing, none}, expected, 1,
                "keldo-list: " + missing + ": No such file or directory\n", tool::keldo_list});
}

// A text that names the tag on each of its lines lists every hit, each doubtful for its text.
TEST(List, TagsInTextAreDoubtful)
{
    std::string text;
    for (int line = 0; line < 20; ++line)
        text += "SNDF marks an instrument block; so says line " + std::to_string(line) + " of this text.\n";
    const run_result r = run_keldo({"--json", make_file("notes.txt", text)}, {nullptr, false, nullptr, tool::keldo_list});
    const auto count = [&](const char* pattern) {
        const std::regex matched(pattern);
        return std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), matched), std::sregex_iterator());
    };
    EXPECT_EQ(count("\"type\":\"instrument\""), 20);
    EXPECT_EQ(count("\"doubtful\":\\[[^\\]]*\"text\""), 20);
}

// Archives made by the tests' own Python: a zip with a folder, a deflated and a stored member and
// a zip inside it; a tar.gz; an LZH (a level-0 header with a stored member, written by hand);
// the zip cut short in its second member. Each member is also written as a file named
// ARCHIVE:MEMBER, as keldo-list names it.
constexpr char MAKE_ARCHIVES[] = R"(
import io, os, struct, tarfile, zipfile
def member(seed):
    b = bytearray(3000); b[10 * seed:10 * seed + 4] = b'SNDF'
    b[10 * seed + 4:10 * seed + 36] = bytes((i * seed) & 15 for i in range(32))
    b[2889:2893] = b'SNDF'  # the member ends a byte before this block's last: cut, not whole
    return bytes(b)
members = {'game.zip:SOUND/BGM.BIN': member(3), 'game.zip:SFX.BIN': member(5), 'game.zip:inner.zip:X.BIN': member(7),
           'bank.tar.gz:a.bin': member(9), 'drums.lzh:DRUM.BIN': member(11)}
inner = io.BytesIO()
with zipfile.ZipFile(inner, 'w') as z:
    z.writestr('X.BIN', members['game.zip:inner.zip:X.BIN'], zipfile.ZIP_DEFLATED)
with zipfile.ZipFile('game.zip', 'w') as z:
    z.writestr('SOUND/', b'')
    z.writestr('SOUND/BGM.BIN', members['game.zip:SOUND/BGM.BIN'], zipfile.ZIP_DEFLATED)
    z.writestr('SFX.BIN', members['game.zip:SFX.BIN'], zipfile.ZIP_STORED)
    z.writestr('inner.zip', inner.getvalue(), zipfile.ZIP_STORED)
with tarfile.open('bank.tar.gz', 'w:gz') as t:
    info = tarfile.TarInfo('a.bin'); info.size = 3000
    t.addfile(info, io.BytesIO(members['bank.tar.gz:a.bin']))
data = members['drums.lzh:DRUM.BIN']
crc = 0
for byte in data:
    crc ^= byte
    for _ in range(8):
        crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
header = b'-lh0-' + struct.pack('<IIIBBB', len(data), len(data), 0, 0x20, 0, 8) + b'DRUM.BIN' + struct.pack('<H', crc)
open('drums.lzh', 'wb').write(bytes([len(header), sum(header) & 0xFF]) + header + data + b'\0')
game = open('game.zip', 'rb').read()
open('damaged.zip', 'wb').write(game[:game.index(b'SFX.BIN') + 1000])
for name, data in members.items():
    os.makedirs(os.path.dirname('as-files/' + name) or 'as-files', exist_ok=True)
    open('as-files/' + name, 'wb').write(data)
)";

bool unpacks_archives()
{
    return run_keldo({"--version"}, {nullptr, false, nullptr, tool::keldo_list}).out.find("unpacked by") != std::string::npos;
}

// The members of an archive list as files of their own would: names, numbering, texts and doubts.
// A damaged archive lists what it could read and names what failed; unpacking stops at its bound.
TEST(List, ArchiveMembersAreFiles)
{
    if (!unpacks_archives())
        GTEST_SKIP() << "this build reads an archive as its bytes";
    const std::string folder = temp_path("archives");
    mkdir(folder.c_str(), 0700);
    ASSERT_EQ(std::system(("cd " + folder + " && python3 " + write_file(folder + "/make.py", MAKE_ARCHIVES)).c_str()), 0);
    const run_options in_folder{nullptr, false, folder.c_str(), tool::keldo_list};
    const run_result unpacked = run_keldo({"game.zip", "bank.tar.gz", "drums.lzh"}, in_folder);
    EXPECT_EQ(unpacked.status, 0) << unpacked.err;
    const std::string as_files = folder + "/as-files";
    EXPECT_EQ(unpacked.out, run_keldo({"game.zip:SOUND/BGM.BIN", "game.zip:SFX.BIN", "game.zip:inner.zip:X.BIN", "bank.tar.gz:a.bin",
                                       "drums.lzh:DRUM.BIN"}, {nullptr, false, as_files.c_str(), tool::keldo_list}).out);
    EXPECT_NE(run_keldo({"--json", "game.zip"}, in_folder).out.find("\"file\":{\"text\":\"game.zip\"},\"member\":{\"text\":\"inner.zip:X.BIN\"}"), std::string::npos);
    const run_result damaged = run_keldo({"damaged.zip"}, in_folder);
    const std::size_t bgm = unpacked.out.find('\n', BANNER.size()) + 1;
    EXPECT_EQ(damaged.out, BANNER + "; file damaged.zip:SOUND/BGM.BIN\n" + unpacked.out.substr(bgm, unpacked.out.find("; file game.zip:SFX") - bgm) +
                               "; file damaged.zip:SFX.BIN\n");
    EXPECT_TRUE(std::regex_match(damaged.err, std::regex("keldo-list: damaged.zip:SFX.BIN: .+\nkeldo-list: damaged.zip: .+\n"))) << damaged.err;
    EXPECT_EQ(damaged.status, 1);
    const run_result bounded = run_keldo({"--max-unpacked=3000", "--json", "game.zip"}, in_folder);  // the first member whole
    EXPECT_EQ(bounded.err, "keldo-list: game.zip:SFX.BIN: unpacking stopped: the archive's members passed --max-unpacked=3000\n");
    EXPECT_NE(bounded.out.find("{\"type\":\"error\",\"file\":{\"text\":\"game.zip\"},\"member\":{\"text\":\"SFX.BIN\"},\"error\":\"unpacking stopped"), std::string::npos);
    EXPECT_EQ(bounded.status, 1);
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
    const run_result help = run_keldo({"--help"}, {"/dev/full", false, nullptr, tool::keldo_list});
    EXPECT_EQ(help.status, 1) << "--help";
    EXPECT_EQ(help.err, "keldo-list: the output could not be written: " + std::string(std::strerror(ENOSPC)) + "\n");
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
        {"\xF8\x90\x80\x80.bin", false}, {"\xE6\xE6\xA5\xBD.bin", false},  // 0xF8 as a lead, a lead for a continuation
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
