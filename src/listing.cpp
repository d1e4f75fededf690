// keldo-list's listing. The scan resumes right after each tag: no tag can begin inside another,
// so the tags it finds are those of the whole input, in order, each read once.
#include "listing.h"

#include "dump.h"
#include "json.h"
#include "report.h"
#include "scan.h"

#include <sys/types.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace {

constexpr char CHANGED[] = "it changed while it was read";

std::int64_t next_tag(std::FILE* in, std::int64_t px)
{
    return fseeko(in, static_cast<off_t>(px), SEEK_SET) == 0 ? find_tag(in, px) : SCAN_READ_ERROR;
}

void print_json_bytes(std::FILE* out, const unsigned char* bytes, int count)
{
    std::fputc('[', out);
    for (int i = 0; i < count; ++i)
        std::fprintf(out, i == 0 ? "%d" : ",%d", bytes[i]);
    std::fputc(']', out);
}

void print_json_envelope(std::FILE* out, const char* key, envelope e)
{
    std::fprintf(out, ",\"%s\":{\"entries\":", key);
    print_json_bytes(out, e.entries, e.count);
    std::fprintf(out, ",\"length\":%d,\"loop\":%d}", e.length, e.loop);
}

void print_json_head(std::FILE* out, const char* type, const char* name)
{
    std::fprintf(out, "{\"type\":\"%s\",\"file\":", type);
    print_json_name(out, name);
}

void print_instrument(std::FILE* out, const list_run& run, const char* name, std::int64_t in_file,
                      std::int64_t px, const instrument_block& block)
{
    switch (run.form) {
    case list_form::mml:
        print_offset(out, px);
        print_definitions(out, block, run.listed);
        break;
    case list_form::json:
        print_json_head(out, "instrument", name);
        std::fprintf(out, ",\"number\":%" PRId64 ",\"number_in_file\":%" PRId64 ",\"px\":%" PRId64 ",\"wave\":",
                     run.listed, in_file, px);
        print_json_bytes(out, wave_table(block), WAVE_SIZE);
        print_json_envelope(out, "volume", volume_envelope(block));
        print_json_envelope(out, "pitch", pitch_envelope(block));
        std::fputs("}\n", out);
        break;
    case list_form::separate:
        std::fputs(BANNER, out);
        print_offset(out, px);
        print_definitions(out, block, 0);
        std::fputc('\0', out);
        break;
    }
    std::fflush(out);
}

// The end of an input that held `found` instruments, or could not be read whole for `reason`;
// in the separate form, keldo's text where keldo prints no block (after the offset line of
// `failed_px`, the block that could not be read again, if not 0).
void end_input(std::FILE* out, const list_run& run, const char* name, std::int64_t found,
               const char* reason, std::int64_t failed_px)
{
    if (run.form == list_form::json && (reason || found == 0)) {
        print_json_head(out, reason ? "error" : "none", name);
        if (reason) {
            std::fputs(",\"error\":", out);
            print_json_string(out, reason);
        }
        std::fputs("}\n", out);
    } else if (run.form == list_form::separate && (reason || found == 0)) {
        std::fputs(BANNER, out);
        if (failed_px > 0)
            print_offset(out, failed_px);
        std::fputs(reason ? CANNOT_OPEN : NOT_FOUND, out);
        std::fputc('\0', out);
    }
    std::fflush(out);
}

} // namespace

void print_escaped_name(std::FILE* out, const char* name)
{
    for (const auto* s = reinterpret_cast<const unsigned char*>(name); *s != 0; ++s) {
        if (*s < 0x20 || *s == 0x7F)
            std::fprintf(out, "\\x%02x", *s);
        else
            std::fputc(*s, out);
    }
}

void begin_list(const list_run& run, std::FILE* out)
{
    if (run.form == list_form::mml)
        std::fputs(BANNER, out);
}

const char* list_input(std::FILE* in, const char* name, list_run& run, std::FILE* out)
{
    if (run.form == list_form::mml) {
        std::fputs("; file ", out);
        print_escaped_name(out, name);
        std::fputc('\n', out);
    }
    std::int64_t found = 0;
    std::int64_t px = find_tag(in);
    const char* reason = nullptr;
    instrument_block block;
    for (; px >= 0; px = next_tag(in, px)) {
        errno = 0;
        if (!read_block(in, px, block)) {
            // Without an error, the tag was gone from where the scan found it.
            reason = errno != 0 ? std::strerror(errno) : CHANGED;
            break;
        }
        print_instrument(out, run, name, found, px, block);
        if (std::ferror(out))
            return nullptr;  // the run fails on the write, and no reader wants more
        ++run.listed;
        if (++found == run.max_count)
            break;
    }
    if (px == SCAN_READ_ERROR)
        reason = std::strerror(errno);
    end_input(out, run, name, found, reason, reason && px >= 0 ? px : 0);
    return reason;
}

void list_unopened(const char* name, const char* reason, const list_run& run, std::FILE* out)
{
    end_input(out, run, name, 0, reason, 0);
}
