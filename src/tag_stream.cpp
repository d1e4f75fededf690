// The tags of an input, read once. The window keeps the bytes from the last tag found (or the
// last few bytes, which may begin one) and is topped up by one read of whatever room is left, so
// that a tag's block is whole in it before the tag is handed out.
#include "tag_stream.h"

#include "search.h"

#include <cerrno>
#include <cstring>

namespace {

// A read that fails after delivering some bytes is tried again at the next call, where a lasting
// fault fails at once and a passing one is over.
std::int64_t read_file(void* context, unsigned char* into, std::int64_t size)
{
    auto* in = static_cast<std::FILE*>(context);
    std::clearerr(in);
    const auto n = static_cast<std::int64_t>(std::fread(into, 1, static_cast<std::size_t>(size), in));
    return n == 0 && std::ferror(in) ? -1 : n;
}

// Drops the window's bytes before `keep` and reads into the room that leaves.
void top_up(tag_stream& s, std::int64_t keep)
{
    std::memmove(s.window, s.window + keep, static_cast<std::size_t>(s.end - keep));
    s.base += keep;
    s.from = s.from > keep ? s.from - keep : 0;
    s.end -= keep;
    errno = 0;
    const std::int64_t n = s.source.read(s.source.context, s.window + s.end, STREAM_WINDOW_SIZE - s.end);
    if (n > 0) {
        s.end += n;
    } else {
        s.ended = true;
        s.error = n < 0 ? (errno != 0 ? errno : EIO) : 0;
    }
}

} // namespace

byte_source file_source(std::FILE* in)
{
    return {in, read_file, nullptr};
}

void start_stream(tag_stream& stream, byte_source source)
{
    stream.source = source;
    stream.base = stream.from = stream.end = 0;
    stream.ended = false;
    stream.error = 0;
}

stream_result next_block(tag_stream& s, found_block& found)
{
    const search_fn search = fastest_search().search;
    found.px = 0;
    for (;;) {
        const std::int64_t at = search(s.window + s.from, s.end - s.from);
        const std::int64_t tag = s.from + at;
        const bool whole = at >= 0 && tag + TAG_LENGTH + BLOCK_READ_SIZE <= s.end;
        if (at >= 0 && (whole || (s.ended && s.error == 0))) {
            found.px = s.base + tag + TAG_LENGTH;
            found.held = whole ? BLOCK_READ_SIZE : s.end - tag - TAG_LENGTH;
            std::memset(found.block.bytes, 0, sizeof found.block.bytes);
            std::memcpy(found.block.bytes, s.window + tag + TAG_LENGTH, static_cast<std::size_t>(found.held));
            s.from = tag + TAG_LENGTH;  // no tag begins inside another
            return stream_result::found;
        }
        if (s.ended) {
            found.px = at >= 0 ? s.base + tag + TAG_LENGTH : 0;
            return s.error ? stream_result::failed : stream_result::end;
        }
        // Keep the tag whose block is still to come, or the bytes that may begin one.
        top_up(s, at >= 0 ? tag : s.from > s.end - (TAG_LENGTH - 1) ? s.from : s.end - (TAG_LENGTH - 1));
    }
}
