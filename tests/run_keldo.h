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
// captured), or is closed for CLOSED_STDOUT; standard input is /dev/null.
run_result run_keldo(const std::vector<std::string>& args, const char* stdout_path = nullptr);
constexpr char CLOSED_STDOUT[] = "";

// A fresh path under the test temporary directory, unique to this process.
std::string temp_path(const std::string& name);

// Writes `bytes` to the file at `path` and returns the path.
std::string write_file(const std::string& path, const std::string& bytes);

// Writes `bytes` to a fresh temporary file and returns its path.
std::string make_file(const std::string& name, const std::string& bytes);

// `size` zero bytes with `tag` written at `offset`.
std::string bytes_with(std::size_t size, std::size_t offset, const std::string& tag);

std::string read_file(const std::string& path);

inline const std::string BANNER = ";  KELDO v 0.01 by QOR\n";
inline const std::string CANNOT_OPEN = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF"
                                       "\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\n";
// The three definitions of a block of zero bytes.
inline const std::string ZERO_BLOCK = "@WT0 = {\n"
                                      "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                      "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                      "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                      "$00 $00 $00 $00 $00 $00 $00 $00 \n"
                                      "}\n"
                                      "@v0 = {\n}\n"
                                      "@EP0 = {\n}\n";
