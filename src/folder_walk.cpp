// The walk: every path under the folder gathered first, then sorted, so that the order does not
// depend on the order a file system happens to give its entries in.
#include "folder_walk.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace {

struct path_list {
    char** paths = nullptr;
    std::size_t count = 0;
    std::size_t room = 0;
};

bool add_path(path_list& list, char* path)
{
    if (list.count == list.room) {
        const std::size_t room = list.room ? 2 * list.room : 64;
        auto** grown = static_cast<char**>(std::realloc(list.paths, room * sizeof(char*)));
        if (grown == nullptr)
            return false;
        list.paths = grown;
        list.room = room;
    }
    list.paths[list.count++] = path;
    return true;
}

char* joined(const char* folder, const char* name)
{
    const std::size_t length = std::strlen(folder);
    const bool slash = length > 0 && (folder[length - 1] == '/' || folder[length - 1] == '\\');
    char* path = static_cast<char*>(std::malloc(length + !slash + std::strlen(name) + 1));
    if (path != nullptr) {
        std::memcpy(path, folder, length);
        path[length] = '/';
        std::strcpy(path + length + !slash, name);
    }
    return path;
}

char* copy_of(const char* text)
{
    const std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

// What the walk does with an entry: go down a folder, read a file, or pass over the rest.
enum class entry_kind { folder, file, other };

bool is_dot(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

#if defined(_WIN32)
// Names go in and out as UTF-8, as every name keldo-list handles; Windows holds them in UTF-16.
wchar_t* wide(const char* text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    auto* result = static_cast<wchar_t*>(std::malloc(size * sizeof(wchar_t)));
    if (result != nullptr)
        MultiByteToWideChar(CP_UTF8, 0, text, -1, result, size);
    return result;
}

DWORD attributes_of(const char* path)
{
    wchar_t* name = wide(path);
    const DWORD attributes = name ? GetFileAttributesW(name) : INVALID_FILE_ATTRIBUTES;
    std::free(name);
    return attributes;
}

bool folder_here(const char* path)
{
    const DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

entry_kind kind_of(const char* path)
{
    // A link to a folder (a reparse point) is not followed.
    const DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return entry_kind::file;
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? entry_kind::other : entry_kind::folder;
}

// Adds the paths of the folder's entries; false when the folder cannot be read.
bool read_entries(const char* folder, path_list& entries)
{
    char* pattern = joined(folder, "*");
    wchar_t* wide_pattern = pattern ? wide(pattern) : nullptr;
    std::free(pattern);
    WIN32_FIND_DATAW entry;
    const HANDLE found = wide_pattern ? FindFirstFileW(wide_pattern, &entry) : INVALID_HANDLE_VALUE;
    std::free(wide_pattern);
    if (found == INVALID_HANDLE_VALUE)
        return false;
    bool kept = true;
    do {
        char name[4 * MAX_PATH];
        if (WideCharToMultiByte(CP_UTF8, 0, entry.cFileName, -1, name, sizeof name, nullptr, nullptr) == 0 || is_dot(name))
            continue;
        char* path = joined(folder, name);
        kept = path != nullptr && add_path(entries, path);
    } while (kept && FindNextFileW(found, &entry));
    FindClose(found);
    return true;
}
#else
bool folder_here(const char* path)
{
    struct stat about;
    return stat(path, &about) == 0 && S_ISDIR(about.st_mode);
}

// Devices, pipes and sockets found on the way are passed over, as they could block the walk or
// never end; named on the command line, they are read.
entry_kind kind_of(const char* path)
{
    struct stat about;
    if (lstat(path, &about) != 0)
        return entry_kind::file;  // gone since it was listed: its reason is said when it is read
    if (S_ISDIR(about.st_mode))
        return entry_kind::folder;
    if (S_ISLNK(about.st_mode) && stat(path, &about) != 0)
        return entry_kind::file;  // a broken link
    return S_ISREG(about.st_mode) ? entry_kind::file : entry_kind::other;
}

bool read_entries(const char* folder, path_list& entries)
{
    DIR* found = opendir(folder);
    if (found == nullptr)
        return false;
    bool kept = true;
    while (const dirent* entry = kept ? readdir(found) : nullptr) {
        if (is_dot(entry->d_name))
            continue;
        char* path = joined(folder, entry->d_name);
        kept = path != nullptr && add_path(entries, path);
    }
    closedir(found);
    return true;
}
#endif

// Adds every file under `folder` to `files`, or the folder itself when it cannot be read, so that
// its reason is said when it is read; false when memory ran out.
bool gather(const char* folder, path_list& files)
{
    path_list entries;
    if (!read_entries(folder, entries)) {
        char* path = copy_of(folder);
        return path != nullptr && add_path(files, path);
    }
    bool kept = true;
    for (std::size_t i = 0; i < entries.count; ++i) {
        char* path = entries.paths[i];
        const entry_kind kind = kept ? kind_of(path) : entry_kind::other;
        if (kind == entry_kind::folder)
            kept = gather(path, files);
        if (kind == entry_kind::file)
            kept = add_path(files, path);
        else
            std::free(path);
    }
    std::free(entries.paths);
    return kept;
}

int by_bytes(const void* a, const void* b)
{
    return std::strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

} // namespace

bool is_folder(const char* path)
{
    return folder_here(path);
}

bool walk_folder(const char* folder, bool (*visit)(const char* path, void* context), void* context)
{
    path_list files;
    bool going = gather(folder, files);
    if (!going)
        errno = ENOMEM;
    std::qsort(files.paths, files.count, sizeof *files.paths, by_bytes);
    for (std::size_t i = 0; i < files.count; ++i) {
        going = going && visit(files.paths[i], context);
        std::free(files.paths[i]);
    }
    std::free(files.paths);
    return going;
}
