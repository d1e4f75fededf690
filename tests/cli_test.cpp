// End-to-end runs of the built tool: whole output, exit status and an empty standard error.
#include "support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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

// The manual page shows the sample's output byte for byte: in the page's source, "\-" is a
// minus sign and "\&" keeps a line's trailing space.
TEST(Cli, ManualPageExampleIsTheOutput)
{
    const std::string page = read_file(KELDO_SOURCE_DIR "/keldo.1");
    const std::string command = ".RB \"$ \" \"keldo samples/demo.bin\"\n";
    const std::size_t at = page.find(command);
    ASSERT_NE(at, std::string::npos);
    const std::size_t from = at + command.size();
    std::string example = page.substr(from, page.find("\n.fi\n", from) + 1 - from);
    example = std::regex_replace(std::regex_replace(example, std::regex(R"(\\-)"), "-"), std::regex(R"(\\&)"), "");
    expect_run({"manual page example", {KELDO_SOURCE_DIR "/samples/demo.bin"}, example, 0});
}

TEST(Cli, FailedWriteFailsTheRun)
{
    const std::string at10 = make_file("full", bytes_with(600, 10, "SNDF"));
    for (const char* out : {"/dev/full", CLOSED_STDOUT}) {
        if (out == CLOSED_STDOUT && testing_wasm_module())
            GTEST_SKIP() << "closed stdout: Node hands a WASI program /dev/null in its place (/dev/full was tested)";
        const run_result r = run_keldo({at10}, out);
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
    const run_result r = run_keldo({make_file("full", bytes_with(600, 10, "SNDF"))}, "/dev/full", true);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "");
}

} // namespace
