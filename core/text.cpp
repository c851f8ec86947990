#include "core/text.h"

namespace quorvane {

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

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
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

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace quorvane
