// JSON strings and names for keldo-list's JSON Lines.
#include "json.h"

#include <cstdint>

namespace {

// The length of the UTF-8 sequence that `lead` starts, and the bits it carries; 0 for a byte
// that starts none.
struct utf8_lead {
    int length;
    std::uint32_t bits;
    std::uint32_t least;  // the smallest code point of that length: below it is overlong
};

utf8_lead lead_of(unsigned char lead)
{
    if (lead < 0x80)
        return {1, lead, 0};
    if ((lead & 0xE0) == 0xC0)
        return {2, lead & 0x1Fu, 0x80};
    if ((lead & 0xF0) == 0xE0)
        return {3, lead & 0x0Fu, 0x800};
    if ((lead & 0xF8) == 0xF0)
        return {4, lead & 0x07u, 0x10000};
    return {0, 0, 0};
}

constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void print_base64(std::FILE* out, const unsigned char* bytes)
{
    for (;;) {
        std::uint32_t group = 0;
        int taken = 0;
        for (; taken < 3 && bytes[taken] != 0; ++taken)
            group |= std::uint32_t{bytes[taken]} << (16 - 8 * taken);
        if (taken == 0)
            return;
        for (int i = 0; i < 4; ++i)
            std::fputc(i <= taken ? BASE64[(group >> (18 - 6 * i)) & 0x3F] : '=', out);
        if (taken < 3)
            return;
        bytes += 3;
    }
}

} // namespace

bool is_utf8(const char* text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s != 0) {
        const utf8_lead lead = lead_of(*s);
        if (lead.length == 0)
            return false;
        std::uint32_t code = lead.bits;
        for (int i = 1; i < lead.length; ++i) {
            if ((s[i] & 0xC0) != 0x80)  // also where the text ends inside the sequence
                return false;
            code = code << 6 | (s[i] & 0x3Fu);
        }
        if (code < lead.least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        s += lead.length;
    }
    return true;
}

void print_json_string(std::FILE* out, const char* text)
{
    std::fputc('"', out);
    for (const auto* s = reinterpret_cast<const unsigned char*>(text); *s != 0; ++s) {
        if (*s == '"' || *s == '\\')
            std::fprintf(out, "\\%c", *s);
        else if (*s < 0x20)
            std::fprintf(out, "\\u%04x", *s);
        else
            std::fputc(*s, out);
    }
    std::fputc('"', out);
}

void print_json_name(std::FILE* out, const char* name)
{
    if (is_utf8(name)) {
        std::fputs("{\"text\":", out);
        print_json_string(out, name);
    } else {
        std::fputs("{\"bytes\":\"", out);
        print_base64(out, reinterpret_cast<const unsigned char*>(name));
        std::fputc('"', out);
    }
    std::fputc('}', out);
}
