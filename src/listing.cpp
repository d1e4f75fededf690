// keldo-list's listing. The search resumes right after each tag: no tag can begin inside another,
// so the tags it finds are those of the whole input, in order, each read once.
#include "listing.h"

#include "doubt.h"
#include "dump.h"
#include "json.h"
#include "report.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace {

// One input at a time, and too large for a WebAssembly stack.
tag_stream stream;
found_block block;

// Whether what was written to `out` so far reached it; the first failure is kept in `run`.
bool written(std::FILE* out, list_run& run)
{
    std::fflush(out);
    if (std::ferror(out) && run.write_error == 0)
        run.write_error = errno != 0 ? errno : EIO;
    return !std::ferror(out);
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

// The archive's member, if the input is one, named apart from the file.
void print_json_head(std::FILE* out, const char* type, const input_name& name)
{
    std::fprintf(out, "{\"type\":\"%s\",\"file\":", type);
    print_json_name(out, name.file);
    if (name.member) {
        std::fputs(",\"member\":", out);
        print_json_name(out, name.member);
    }
}

void print_instrument(std::FILE* out, const list_run& run, const input_name& name, std::int64_t in_file,
                      const found_block& found)
{
    const unsigned doubts = doubts_of(found.block, found.held);
    switch (run.form) {
    case list_form::mml:
        print_offset(out, found.px);
        if (doubts) {
            std::fputs("; doubtful: ", out);
            print_doubts(out, doubts, "", "", ", ");
            std::fputc('\n', out);
        }
        print_definitions(out, found.block, run.listed);
        break;
    case list_form::json:
        print_json_head(out, "instrument", name);
        std::fprintf(out, ",\"number\":%" PRId64 ",\"number_in_file\":%" PRId64 ",\"px\":%" PRId64 ",\"wave\":",
                     run.listed, in_file, found.px);
        print_json_bytes(out, wave_table(found.block), WAVE_SIZE);
        print_json_envelope(out, "volume", volume_envelope(found.block));
        print_json_envelope(out, "pitch", pitch_envelope(found.block));
        std::fputs(",\"doubtful\":[", out);
        print_doubts(out, doubts, "\"", "\"", ",");
        std::fputs("]}\n", out);
        break;
    case list_form::separate:
        std::fputs(BANNER, out);
        print_offset(out, found.px);
        print_definitions(out, found.block, 0);
        std::fputc('\0', out);
        print_doubts(out, doubts, "", "", ", ");
        std::fputc('\0', out);
        break;
    }
}

// The end of an input that held `found` instruments, or could not be read whole for `reason`;
// in the separate form, keldo's text where keldo prints no block (after the offset line of
// `failed_px`, the block that could not be read, if not 0), with no doubts.
void end_input(std::FILE* out, const list_run& run, const input_name& name, std::int64_t found,
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
        std::fputc('\0', out);
    }
}

} // namespace

void print_escaped_name(std::FILE* out, const char* name)
{
    for (const auto* s = reinterpret_cast<const unsigned char*>(name); *s != 0; ++s) {
        if (*s < 0x20 || *s == 0x7F)
            std::fprintf(out, "\\x%02x", *s);
        else if (*s == '\\')
            std::fputs("\\\\", out);
        else
            std::fputc(*s, out);
    }
}

void print_input_name(std::FILE* out, const input_name& name)
{
    print_escaped_name(out, name.file);
    if (name.member) {
        std::fputc(':', out);
        print_escaped_name(out, name.member);
    }
}

void begin_list(const list_run& run, std::FILE* out)
{
    if (run.form == list_form::mml)
        std::fputs(BANNER, out);
}

const char* list_input(byte_source in, const input_name& name, list_run& run, std::FILE* out)
{
    if (run.form == list_form::mml) {
        std::fputs("; file ", out);
        print_input_name(out, name);
        std::fputc('\n', out);
    }
    std::int64_t found = 0;
    stream_result result = stream_result::end;
    start_stream(stream, in);
    while (found != run.max_count && (result = next_block(stream, block)) == stream_result::found) {
        print_instrument(out, run, name, found, block);
        if (!written(out, run))
            return nullptr;  // the run fails on the write, and no reader wants more
        ++run.listed;
        ++found;
    }
    const char* said = result == stream_result::failed && in.failure ? in.failure(in.context) : nullptr;
    const char* reason = result != stream_result::failed ? nullptr : said ? said : std::strerror(stream.error);
    end_input(out, run, name, found, reason, reason ? block.px : 0);
    written(out, run);
    return reason;
}

void report_unread(const input_name& name, const char* reason)
{
    std::fputs("keldo-list: ", stderr);
    print_input_name(stderr, name);
    std::fprintf(stderr, ": %s\n", reason);
}

void list_unopened(const input_name& name, const char* reason, list_run& run, std::FILE* out)
{
    end_input(out, run, name, 0, reason, 0);
    written(out, run);
}
