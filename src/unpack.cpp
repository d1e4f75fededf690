// Archives. An input's first bytes are read ahead and tell whether it is an archive (by the
// signatures of the formats libarchive reads); they are then handed on, so that a pipe or a
// member being unpacked is read once, as every input is. A member is listed as it is unpacked,
// through the same window as any input, so that its size costs time and never memory.
#include "unpack.h"

#include <cerrno>
#include <cstring>

namespace {

// The bytes read ahead: enough for every signature below, an ISO 9660 image's at 32769 too.
constexpr std::int64_t HEAD_SIZE = 64 * 1024;

// An input with its first bytes read ahead, then handed on before the rest.
struct peeked {
    byte_source rest;
    unsigned char head[HEAD_SIZE];
    std::int64_t size = 0;    // bytes read ahead
    std::int64_t served = 0;  // of those, handed on
    int error = 0;            // of a read that failed while reading ahead
};

std::int64_t read_peeked(void* context, unsigned char* into, std::int64_t size)
{
    peeked& p = *static_cast<peeked*>(context);
    if (p.served < p.size) {
        const std::int64_t n = size < p.size - p.served ? size : p.size - p.served;
        std::memcpy(into, p.head + p.served, static_cast<std::size_t>(n));
        p.served += n;
        return n;
    }
    if (p.error != 0) {
        errno = p.error;
        return -1;
    }
    return p.rest.read(p.rest.context, into, size);
}

void peek(peeked& p, byte_source rest)
{
    p.rest = rest;
    p.size = p.served = 0;
    p.error = 0;
    while (p.size < HEAD_SIZE) {
        errno = 0;
        const std::int64_t n = rest.read(rest.context, p.head + p.size, HEAD_SIZE - p.size);
        if (n <= 0) {
            p.error = n < 0 ? (errno != 0 ? errno : EIO) : 0;
            break;
        }
        p.size += n;
    }
}

// Why a read of what `p` hands on failed, as its source says it (null: errno says).
const char* peeked_failure(void* context)
{
    const byte_source& rest = static_cast<peeked*>(context)->rest;
    return rest.failure ? rest.failure(rest.context) : nullptr;
}

byte_source source_of(peeked& p)
{
    return {&p, read_peeked, peeked_failure};
}

} // namespace

#if defined(KELDO_LIBARCHIVE)
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>

namespace {

// libarchive's functions, found in the library when the first archive is met, by their own names.
#define LIBARCHIVE_FUNCTIONS(F)                                                                                   \
    F(archive_version_string) F(archive_read_new) F(archive_read_support_filter_all)                          \
    F(archive_read_support_format_all) F(archive_read_support_format_raw) F(archive_read_set_seek_callback)   \
    F(archive_read_open) F(archive_read_next_header) F(archive_read_data) F(archive_read_free)                \
    F(archive_error_string) F(archive_set_error) F(archive_format) F(archive_entry_pathname)                  \
    F(archive_entry_filetype)

struct libarchive_functions {
#define DECLARE(name) decltype(&::name) name;
    LIBARCHIVE_FUNCTIONS(DECLARE)
#undef DECLARE
};

libarchive_functions la;
const char* load_failure = nullptr;  // why libarchive could not be loaded, once tried
bool loaded = false;

bool load_libarchive()
{
    if (loaded || load_failure)
        return loaded;
    void* library = dlopen(KELDO_LIBARCHIVE, RTLD_NOW | RTLD_LOCAL);
#define FIND(name)                                                          \
    if (library && !(la.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)))) \
        library = nullptr;
    LIBARCHIVE_FUNCTIONS(FIND)
#undef FIND
    if (library == nullptr)
        load_failure = dlerror();
    return loaded = library != nullptr;
}

// The signatures of the formats unpacked, where each stands from the start of a file.
struct signature {
    std::int64_t at;
    const char* bytes;
    std::size_t size;
};

#define SIGNATURE(at, text) {at, text, sizeof text - 1}
constexpr signature SIGNATURES[] = {
    SIGNATURE(0, "PK\x03\x04"), SIGNATURE(0, "PK\x05\x06"), SIGNATURE(0, "PK\x07\x08"),  // zip
    SIGNATURE(0, "7z\xBC\xAF\x27\x1C"),                                                // 7z
    SIGNATURE(0, "Rar!\x1A\x07"),                                                      // RAR 4 and 5
    SIGNATURE(2, "-lh"), SIGNATURE(2, "-lz"),                                           // LHA, LZH
    SIGNATURE(32769, "CD001"),                                                          // ISO 9660
    SIGNATURE(257, "ustar"),                                                            // tar
    SIGNATURE(0, "070707"), SIGNATURE(0, "070701"), SIGNATURE(0, "070702"),             // cpio
    SIGNATURE(0, "MSCF\0\0\0\0"),                                                       // cabinet
    SIGNATURE(0, "xar!"),
    SIGNATURE(0, "\x1F\x8B"),                                                           // gzip
    SIGNATURE(0, "BZh"),                                                                // bzip2
    SIGNATURE(0, "\xFD""7zXZ\0"),                                                       // xz
    SIGNATURE(0, "\x28\xB5\x2F\xFD"),                                                   // zstd
    SIGNATURE(0, "LZIP"), SIGNATURE(0, "\x04\x22\x4D\x18"), SIGNATURE(0, "\x1F\x9D"),  // lzip, lz4, compress
};
#undef SIGNATURE

bool signed_as_archive(const peeked& p)
{
    for (const signature& s : SIGNATURES)
        if (s.at + static_cast<std::int64_t>(s.size) <= p.size && std::memcmp(p.head + s.at, s.bytes, s.size) == 0)
            return true;
    return false;
}

// One archive being read: where its bytes come from, and the file itself when its format may
// need to go back and forth in it (7z) and the file allows that.
struct opened_archive {
    struct archive* handle;
    peeked* input;
    std::FILE* seekable;
    std::int64_t position = 0;  // of the next byte libarchive reads
    unsigned char buffer[HEAD_SIZE];
};

la_ssize_t read_archive(struct archive* handle, void* client, const void** buffer)
{
    opened_archive& a = *static_cast<opened_archive*>(client);
    errno = 0;
    const std::int64_t n = read_peeked(a.input, a.buffer, sizeof a.buffer);
    if (n < 0) {
        la.archive_set_error(handle, errno, "%s", std::strerror(errno));
        return -1;
    }
    a.position += n;
    *buffer = a.buffer;
    return n;
}

// After a seek, the file is read where the seek left it: what was read ahead is passed over.
la_int64_t seek_archive(struct archive*, void* client, la_int64_t offset, int whence)
{
    opened_archive& a = *static_cast<opened_archive*>(client);
    if (whence == SEEK_CUR)
        offset += a.position;
    if (fseeko(a.seekable, offset, whence == SEEK_END ? SEEK_END : SEEK_SET) != 0)
        return ARCHIVE_FATAL;
    a.input->served = a.input->size;
    std::clearerr(a.seekable);
    return a.position = ftello(a.seekable);
}

// One level of unpacking: an archive, and where its members' names are made.
struct level {
    peeked input;
    opened_archive archive;
    char member[4096];
};
level levels[ARCHIVE_DEPTH];
peeked top;

// The listing of one FILE: its name, its bound, and what has been unpacked in it so far.
struct unpacking {
    input_name name;
    const unpack_bound& bound;
    list_run& run;
    std::FILE* out;
    std::int64_t unpacked = 0;
    char reason[512] = "";
};

// A member being unpacked, read as any input is.
struct member_reader {
    unpacking& u;
    struct archive* handle;
};

std::int64_t read_member(void* context, unsigned char* into, std::int64_t size)
{
    member_reader& m = *static_cast<member_reader*>(context);
    unpacking& u = m.u;
    const la_ssize_t n = la.archive_read_data(m.handle, into, static_cast<std::size_t>(size));
    if (n < 0) {
        std::snprintf(u.reason, sizeof u.reason, "%s", la.archive_error_string(m.handle));
        return -1;
    }
    if ((u.unpacked += n) > u.bound.max_unpacked) {
        std::snprintf(u.reason, sizeof u.reason, "unpacking stopped: the archive's members passed --max-unpacked=%s",
                      u.bound.max_unpacked_text);
        return -1;
    }
    return n;
}

const char* member_failure(void* context)
{
    return static_cast<member_reader*>(context)->u.reason;
}

bool list_peeked(peeked& input, std::FILE* seekable, const input_name& name, unpacking& u, int depth);

// The name a member goes by: its path in the archive, or for a file compressed whole, the
// archive's own name without its last extension.
const char* member_path(struct archive* handle, struct archive_entry* entry, const input_name& archive)
{
    if ((la.archive_format(handle) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_RAW)
        return la.archive_entry_pathname(entry) ? la.archive_entry_pathname(entry) : "";
    const char* whole = archive.member ? archive.member : archive.file;
    const char* base = std::strrchr(whole, '/') ? std::strrchr(whole, '/') + 1 : whole;
    static char name[1024];
    std::snprintf(name, sizeof name, "%s", base);
    char* extension = std::strrchr(name, '.');
    if (extension && extension != name)
        *extension = '\0';
    return name;
}

// Says why the archive `name` could not be read on, where a failed input is said.
bool archive_failed(const input_name& name, const char* reason, unpacking& u)
{
    list_unopened(name, reason, u.run, u.out);
    report_unread(name, reason);
    return false;
}

// Lists every file in the archive `input`, at `depth`.
bool list_members(peeked& input, std::FILE* seekable, const input_name& name, unpacking& u, int depth)
{
    level& here = levels[depth];
    opened_archive& a = here.archive;
    a.handle = la.archive_read_new();
    a.input = &input;
    a.seekable = seekable;
    a.position = 0;
    la.archive_read_support_filter_all(a.handle);
    la.archive_read_support_format_all(a.handle);
    la.archive_read_support_format_raw(a.handle);  // a file compressed whole; the last any format bids
    if (seekable)
        la.archive_read_set_seek_callback(a.handle, seek_archive);
    if (la.archive_read_open(a.handle, &a, nullptr, read_archive, nullptr) != ARCHIVE_OK) {
        archive_failed(name, la.archive_error_string(a.handle), u);
        la.archive_read_free(a.handle);
        return false;
    }
    bool all_read = true;
    const char* prefix = name.member;
    for (;;) {
        struct archive_entry* entry;
        const int status = la.archive_read_next_header(a.handle, &entry);
        if (status == ARCHIVE_EOF || u.run.write_error != 0 || u.unpacked > u.bound.max_unpacked)
            break;
        if (status < ARCHIVE_WARN) {
            all_read = archive_failed(name, la.archive_error_string(a.handle), u);
            break;
        }
        if (la.archive_entry_filetype(entry) != AE_IFREG)
            continue;
        std::snprintf(here.member, sizeof here.member, "%s%s%s", prefix ? prefix : "", prefix ? ":" : "",
                      member_path(a.handle, entry, name));
        member_reader reader{u, a.handle};
        peek(here.input, {&reader, read_member, member_failure});
        all_read = list_peeked(here.input, nullptr, {name.file, here.member}, u, depth + 1) && all_read;
    }
    la.archive_read_free(a.handle);
    return all_read;
}

bool list_peeked(peeked& input, std::FILE* seekable, const input_name& name, unpacking& u, int depth)
{
    if (depth < ARCHIVE_DEPTH && signed_as_archive(input) && load_libarchive())
        return list_members(input, seekable, name, u, depth);
    const char* reason = list_input(source_of(input), name, u.run, u.out);
    if (reason)
        report_unread(name, reason);
    return reason == nullptr;
}

bool is_regular(std::FILE* in)
{
    struct stat about;
    return fstat(fileno(in), &about) == 0 && S_ISREG(about.st_mode);
}

} // namespace

const char* archive_support()
{
    static char said[512];
    if (load_libarchive())
        std::snprintf(said, sizeof said, "archives: unpacked by %s, loaded when the first one is met\n",
                      la.archive_version_string());
    else
        std::snprintf(said, sizeof said, "archives: read as their bytes, as %s cannot be loaded (%s)\n",
                      KELDO_LIBARCHIVE, load_failure);
    return said;
}

bool list_unpacking(std::FILE* in, const input_name& name, const unpack_bound& bound, list_run& run, std::FILE* out)
{
    unpacking u{name, bound, run, out};
    peek(top, file_source(in));
    return list_peeked(top, is_regular(in) ? in : nullptr, name, u, 0);
}

#else

peeked top;

const char* archive_support()
{
    return "archives: read as their bytes, as this build has no libarchive\n";
}

bool list_unpacking(std::FILE* in, const input_name& name, const unpack_bound&, list_run& run, std::FILE* out)
{
    peek(top, file_source(in));
    const char* reason = list_input(source_of(top), name, run, out);
    if (reason)
        report_unread(name, reason);
    return reason == nullptr;
}

#endif
