#pragma once
// Text helpers over UTF-8 text shared by every part of the program.

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

std::string StripChar(std::string_view text, char ch);
// The text without any blank; tells whether a field holds anything but blanks.
std::string StripSpaces(std::string_view text);
// The text without its leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view text);
std::string_view TrimLeadingBlanks(std::string_view text);
std::string_view TrimTrailingBlanks(std::string_view text);
std::string PadLeft(std::string_view text, char fill, std::size_t width);
// The last byte of a non-empty text ('\0' for an empty one).
char LastChar(std::string_view text);
std::string DropLastChar(std::string_view text);

// ASCII letters in lower case, every other byte as it is, whatever the locale.
std::string AsciiLower(std::string_view text);
// Equal texts when the ASCII letters are taken without regard to case (no other letters).
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// A decimal number with "." as the decimal point whatever the locale: optional blanks, optional
// sign, digits, an optional exponent, optional trailing blanks.
std::optional<double> ParseDecimal(std::string_view text);

// The value of a hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);

} // namespace quorvane
