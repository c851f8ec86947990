#pragma once
// Character-level text work: the case folding that makes the store's key and value names compare
// without regard to letter case, UTF-8 decoding, and the conversions between UTF-8 and the
// UTF-16LE and Windows-1252 texts of files written on Windows.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// The name with every letter in upper case, one code point to one code point, the way the
// Windows registry compares names: ASCII, Latin-1, Latin Extended-A/B pairs, Latin Extended
// Additional, Greek, Cyrillic, Armenian and full-width Latin. No locale rules (no Turkish dotted
// I, no "ß" to "SS"), so the result never depends on the machine. Bytes that are not valid UTF-8
// are kept as they are. The store keeps this form on disk: it must never change.
std::string FoldCase(std::string_view name);

bool IsValidUtf8(std::string_view text);

// Length of the valid UTF-8 sequence at text[i] and its code point; 0 when it is not valid
// (overlong forms, surrogates and values above U+10FFFF count as not valid).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp);

// The text with each byte that is not part of valid UTF-8, and each NUL, as U+FFFD: what a file
// read by other programs (CSV) can carry, where a NUL cuts a text short.
std::string ReplacingInvalidUtf8(std::string_view text);

// The text as a terminal shows it without being steered by it: the backslash doubled; tab, line
// feed and carriage return as \t, \n, \r; the other control characters (C0 and DEL) and bytes
// that are not UTF-8 as \xNN; C1 controls, line and paragraph separators and the bidirectional
// embeddings, overrides and isolates (which reorder what follows them) as \uNNNN. Everything else,
// and so every letter of every script, is kept.
std::string EscapedForTerminal(std::string_view text);

// UTF-8 to UTF-16LE bytes. A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF, so any byte string survives the trip there and back.
std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text);

// UTF-16LE bytes (an even count) to UTF-8; lone surrogates U+DC80..U+DCFF give back the byte
// they stand for, other lone surrogates their three-byte form.
std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t size);

// The index of the first UTF-16 unit of `data` (UTF-16LE bytes, an even count) that is a
// surrogate without its partner, or npos when there is none.
std::size_t FirstUnpairedSurrogate(const std::uint8_t* data, std::size_t size);

// Windows-1252 (the "ANSI" code page of western Windows) to UTF-8.
std::string Cp1252ToUtf8(std::string_view text);

} // namespace quorvane
