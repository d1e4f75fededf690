// Test helpers: run the tool in a child process, make input files.
#include "run_keldo.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

std::string temp_path(const std::string& name)
{
    return ::testing::TempDir() + "keldo-" + std::to_string(getpid()) + "-" + name;
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

run_result run_keldo(const std::vector<std::string>& args, const char* stdout_path)
{
    // KELDO_BINARY runs another build of the tool, through KELDO_RUNNER (an emulator) if set.
    const char* binary = env_or("KELDO_BINARY", KELDO_PATH);
    const char* runner = env_or("KELDO_RUNNER", nullptr);
    const std::string out_path = stdout_path ? stdout_path : temp_path("stdout");
    const std::string err_path = temp_path("stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (err < 0 || in < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0)
            _exit(127);
        if (out_path.empty()) {
            close(1);
        } else {
            const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || dup2(out, 1) < 0)
                _exit(127);
        }
        std::vector<char*> argv;
        if (runner)
            argv.push_back(const_cast<char*>(runner));
        argv.push_back(const_cast<char*>(binary));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run_result result{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1000, "", read_file(err_path)};
    if (!stdout_path)
        result.out = lines_with_lf(read_file(out_path));
    return result;
}
