#include "core/text_codec.h"

namespace quorvane {

std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

namespace {

// Also writes surrogates (the three-byte form), which only lone surrogates from UTF-16 reach.
void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool In(char32_t cp, char32_t first, char32_t last) {
    return cp >= first && cp <= last;
}

// Ranges where upper and lower case alternate, upper case on the even (or odd) code point.
char32_t PairUpper(char32_t cp, bool upperIsEven) {
    const bool even = (cp & 1) == 0;
    return even == upperIsEven ? cp : cp - 1;
}

char32_t SimpleUpper(char32_t cp) {
    if (cp < 0x80)
        return In(cp, 'a', 'z') ? cp - 0x20 : cp;
    if (In(cp, 0xE0, 0xFE) && cp != 0xF7)
        return cp - 0x20;
    if (cp == 0xFF)
        return 0x178;
    if (In(cp, 0x100, 0x12F) || In(cp, 0x132, 0x137) || In(cp, 0x14A, 0x177))
        return PairUpper(cp, true);
    if (cp == 0x131)
        return 'I';
    if (In(cp, 0x139, 0x148) || In(cp, 0x179, 0x17E))
        return PairUpper(cp, false);
    if (cp == 0x17F)
        return 'S';
    if (In(cp, 0x1CD, 0x1DC))
        return PairUpper(cp, false);
    if (In(cp, 0x1DE, 0x1EF) || In(cp, 0x1F8, 0x21F) || In(cp, 0x222, 0x233))
        return PairUpper(cp, true);
    if (cp == 0x3AC)
        return 0x386;
    if (In(cp, 0x3AD, 0x3AF))
        return cp - 0x25;
    if (In(cp, 0x3B1, 0x3CB))
        return cp == 0x3C2 ? 0x3A3 : cp - 0x20;
    if (cp == 0x3CC)
        return 0x38C;
    if (In(cp, 0x3CD, 0x3CE))
        return cp - 0x3F;
    if (In(cp, 0x3D8, 0x3EF))
        return PairUpper(cp, true);
    if (In(cp, 0x430, 0x44F))
        return cp - 0x20;
    if (In(cp, 0x450, 0x45F))
        return cp - 0x50;
    if (In(cp, 0x460, 0x481) || In(cp, 0x48A, 0x4BF) || In(cp, 0x4D0, 0x52F))
        return PairUpper(cp, true);
    if (In(cp, 0x4C1, 0x4CE))
        return PairUpper(cp, false);
    if (cp == 0x4CF)
        return 0x4C0;
    if (In(cp, 0x561, 0x586))
        return cp - 0x30;
    if (In(cp, 0x1E00, 0x1E95) || In(cp, 0x1EA0, 0x1EFF))
        return PairUpper(cp, true);
    if (In(cp, 0x2170, 0x217F))
        return cp - 0x10;
    if (In(cp, 0x24D0, 0x24E9))
        return cp - 0x1A;
    if (In(cp, 0xFF41, 0xFF5A))
        return cp - 0x20;
    return cp;
}

// Windows-1252 at 0x80..0x9F; the five unassigned bytes map to the C1 controls as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf16Le(std::vector<std::uint8_t>& out, char32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
}

} // namespace

std::string FoldCase(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char b = static_cast<unsigned char>(name[i]);
        if (b < 0x80) {
            out += static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
            ++i;
            continue;
        }
        char32_t cp;
        const std::size_t len = DecodeUtf8(name, i, cp);
        if (len == 0) {
            out += name[i++];
            continue;
        }
        AppendUtf8(out, SimpleUpper(cp));
        i += len;
    }
    return out;
}

std::string ReplacingInvalidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0 || cp == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text.substr(i, len));
        i += len;
    }
    return out;
}

std::string EscapedForTerminal(std::string_view text) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    const auto byteEscape = [&](unsigned char b) {
        out += "\\x";
        out += digits[b >> 4];
        out += digits[b & 0xF];
    };
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            byteEscape(static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (cp == '\\') {
            out += "\\\\";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp < 0x20 || cp == 0x7F) {
            byteEscape(static_cast<unsigned char>(cp));
        } else if (In(cp, 0x80, 0x9F) || In(cp, 0x2028, 0x202E) || In(cp, 0x2066, 0x2069)) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += digits[(cp >> shift) & 0xF];
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            cp = 0xDC00 + static_cast<unsigned char>(text[i]);
            len = 1;
        }
        if (cp >= 0x10000) {
            AppendUtf16Le(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUtf16Le(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            AppendUtf16Le(out, cp);
        }
        i += len;
    }
    return out;
}

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve(size / 2);
    const std::size_t units = size / 2;
    const auto unit = [&](std::size_t k) -> char32_t {
        return data[2 * k] | (data[2 * k + 1] << 8);
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 &&
            unit(k + 1) <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
            ++k;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::size_t FirstUnpairedSurrogate(const std::uint8_t* data, std::size_t size) {
    const std::size_t units = size / 2;
    const auto unit = [&](std::size_t k) -> char32_t {
        return data[2 * k] | (data[2 * k + 1] << 8);
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char32_t u = unit(k);
        if (u < 0xD800 || u > 0xDFFF)
            continue;
        if (u > 0xDBFF || k + 1 == units || unit(k + 1) < 0xDC00 || unit(k + 1) > 0xDFFF)
            return k;
        ++k;
    }
    return std::string::npos;
}

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80)
            out += c;
        else if (b < 0xA0)
            AppendUtf8(out, kCp1252High[b - 0x80]);
        else
            AppendUtf8(out, b);
    }
    return out;
}

} // namespace quorvane
