// Runs the built keldo binary as a user would and captures what it did.
#pragma once

#include <string>
#include <vector>

struct run_result {
    int status;
    std::string out;
    std::string err;
};

// Runs keldo with `args`; standard output goes to `stdout_path` when given (and is then not
// captured), standard input is /dev/null.
run_result run_keldo(const std::vector<std::string>& args, const char* stdout_path = nullptr);

// A fresh path under the test temporary directory, unique to this process.
std::string temp_path(const std::string& name);

// Writes `bytes` to a fresh temporary file and returns its path.
std::string make_file(const std::string& name, const std::string& bytes);

// `size` filler bytes with `tag` written at `offset`.
std::string bytes_with(std::size_t size, std::size_t offset, const std::string& tag);

std::string read_file(const std::string& path);

extern const std::string BANNER;
extern const std::string CANNOT_OPEN;
