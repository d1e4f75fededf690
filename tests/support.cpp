// Test helpers: run the tool in a child process, make input files, fake a faulty file.
#include "support.h"

#include "tag.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

struct temp_folder {
    std::string path = ::testing::TempDir() + "keldo-" + std::to_string(getpid());
    temp_folder() { mkdir(path.c_str(), 0700); }
    ~temp_folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

} // namespace

std::string temp_path(const std::string& name)
{
    static const temp_folder folder;
    return folder.path + "/" + name;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

std::string make_file(const std::string& name, const std::string& bytes)
{
    return write_file(temp_path(name), bytes);
}

std::string bytes_with(std::size_t size, std::size_t offset, const std::string& tag)
{
    std::string bytes(size, '\0');
    bytes.replace(offset, tag.size(), tag);
    return bytes;
}

namespace {

const char* env_or(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// Under KELDO_LINE_END=crlf every line must end in CR LF; the check passes the output on with
// plain line feeds, so that the same expected texts serve both hosts.
std::string lines_with_lf(std::string out)
{
    if (std::string(env_or("KELDO_LINE_END", "lf")) != "crlf")
        return out;
    std::string lf;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r'))
            return "a line ending in a bare line feed: " + out;
        if (out[i] != '\r' || i + 1 == out.size() || out[i + 1] != '\n')
            lf += out[i];
    }
    return lf;
}

} // namespace

namespace {

bool binary_ends_with(const std::string& ending)
{
    const std::string binary = env_or("KELDO_BINARY", KELDO_PATH);
    return binary.size() > ending.size() && binary.compare(binary.size() - ending.size(), ending.size(), ending) == 0;
}

} // namespace

bool testing_wasm_module()
{
    return binary_ends_with(".wasm");
}

bool testing_windows_build()
{
    return binary_ends_with(".exe");
}

namespace {

// The read end of a pipe that cat fills with the file at `path`.
int piped(const char* path)
{
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    if (fork() == 0) {
        if (dup2(ends[1], 1) >= 0 && close(ends[0]) == 0)  // a reader that is gone ends cat
            execlp("cat", "cat", path, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    return ends[0];
}

} // namespace

run_result run_keldo(const std::vector<std::string>& args, const run_options& options)
{
    // KELDO_BINARY (KELDO_LIST_BINARY) runs another build of the tool, through KELDO_RUNNER (an
    // emulator and its options, separated by spaces) if set.
    const char* binary = options.program == tool::keldo ? env_or("KELDO_BINARY", KELDO_PATH)
                                                        : env_or("KELDO_LIST_BINARY", KELDO_LIST_PATH);
    std::istringstream runner(env_or("KELDO_RUNNER", ""));
    const std::vector<std::string> runner_words{std::istream_iterator<std::string>(runner), {}};
    const char* stdout_path = options.stdout_path;
    const std::string out_path = stdout_path ? stdout_path : temp_path("stdout");
    const std::string err_path = temp_path("stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = options.stdin_path ? piped(options.stdin_path) : open("/dev/null", O_RDONLY);
        if (err < 0 || in < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0)
            _exit(127);
        int ends[2];
        if (out_path.empty()) {
            close(1);
        } else if (out_path == BROKEN_PIPE) {
            signal(SIGPIPE, SIG_IGN);
            if (pipe(ends) != 0 || dup2(ends[1], 1) < 0)
                _exit(127);
            close(ends[0]);
        } else {
            const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || dup2(out, 1) < 0)
                _exit(127);
        }
        if (options.cwd && chdir(options.cwd) != 0)
            _exit(127);
        alarm(RUN_TIME_LIMIT);  // outlives the exec
        std::vector<char*> argv;
        if (options.line_buffered)
            argv.insert(argv.end(), {const_cast<char*>("stdbuf"), const_cast<char*>("-oL")});
        for (const std::string& word : runner_words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(const_cast<char*>(binary));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run_result result{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1000, "", lines_with_lf(read_file(err_path))};
    if (!stdout_path)
        result.out = lines_with_lf(read_file(out_path));
    return result;
}

void expect_run(const run_case& c)
{
    const run_result r = run_keldo(c.args, {nullptr, false, c.cwd, c.program});
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
}

namespace {

struct fake_file {
    std::string bytes;
    stream_fault fault;
    std::int64_t fault_at;
    read_hook on_read;
    std::int64_t position = 0;
    bool glitched = false;
};

ssize_t fake_read(void* cookie, char* buffer, std::size_t size)
{
    fake_file& f = *static_cast<fake_file*>(cookie);
    if (f.on_read)
        f.on_read(f.position, static_cast<std::int64_t>(size));
    std::int64_t end = std::min<std::int64_t>(f.position + size, f.bytes.size());
    const bool faulty = f.fault == stream_fault::bad_sector || f.fault == stream_fault::silent_bad_sector ||
                        (f.fault == stream_fault::glitch && !f.glitched);
    if (faulty && f.position == f.fault_at) {
        f.glitched = true;
        errno = f.fault == stream_fault::silent_bad_sector ? 0 : EIO;
        return -1;
    }
    if (faulty && f.position < f.fault_at)
        end = std::min(end, f.fault_at);
    const std::int64_t n = std::max<std::int64_t>(0, end - f.position);
    f.bytes.copy(buffer, n, f.position);
    f.position += n;
    return n;
}

int fake_seek(void* cookie, off64_t* offset, int whence)
{
    fake_file& f = *static_cast<fake_file*>(cookie);
    if (f.fault == stream_fault::emptied_before_seek)
        f.bytes.clear();
    if (f.fault == stream_fault::tag_end_changed && f.bytes.find(SCAN_TAG) != std::string::npos)
        f.bytes[f.bytes.find(SCAN_TAG) + TAG_LENGTH - 1] = 'x';
    const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : f.bytes.size();
    if (f.fault != stream_fault::seek_stays_put)
        f.position = base + *offset;
    *offset = f.position;
    return 0;
}

int fake_close(void* cookie)
{
    delete static_cast<fake_file*>(cookie);
    return 0;
}

} // namespace

std::FILE* open_bytes(const std::string& bytes, stream_fault fault, std::int64_t fault_at,
                      read_hook on_read)
{
    return fopencookie(new fake_file{bytes, fault, fault_at, std::move(on_read)}, "rb",
                       {fake_read, nullptr, fake_seek, fake_close});
}

__attribute__((noinline)) void fill_stack_with_tags(int shift)
{
    volatile char stack[16 * 1024];
    for (std::size_t i = 0; i < sizeof stack; ++i)
        stack[i] = SCAN_TAG[(i + shift) % TAG_LENGTH];
}
