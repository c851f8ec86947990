#include "core/text.h"

#include <charconv>
#include <cmath>

namespace quorvane {

namespace {

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string StripChar(std::string_view text, char ch) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != ch)
            out.push_back(c);
    }
    return out;
}

std::string StripSpaces(std::string_view text) {
    return StripChar(text, ' ');
}

std::string_view TrimLeadingBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    return TrimTrailingBlanks(TrimLeadingBlanks(text));
}

std::string PadLeft(std::string_view text, char fill, std::size_t width) {
    std::string out(text);
    if (out.size() < width)
        out.insert(0, width - out.size(), fill);
    return out;
}

char LastChar(std::string_view text) {
    return text.empty() ? '\0' : text.back();
}

std::string DropLastChar(std::string_view text) {
    return std::string(text.empty() ? text : text.substr(0, text.size() - 1));
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<double> ParseDecimal(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && IsDecimalDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDecimalDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < s.size() && IsDecimalDigit(s[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    // from_chars, not strtod: the C library's conversion follows the locale's decimal comma.
    std::string_view number = s;
    if (number.front() == '+')
        number.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace quorvane
