// Byte-text primitives. Every text of the program is a run of code page 936
// (GBK) bytes: positions count bytes from 1, lengths are byte counts and a
// search that finds nothing yields -1. Where a text is walked character by
// character, a byte of 0x80 or above starts a double-byte character together
// with the byte after it; cutting by position or count works on bytes.
//
// All functions are pure: they take values, return new values and keep no
// state, so any thread may call them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace folivex {

// A code page 936 text. An absent text and an empty text are the same value.
using Text = std::string;
// A counted byte buffer. An absent buffer and an empty one are the same value.
using Bytes = std::vector<std::uint8_t>;
// An ordered list of texts. Member i of the 1-based model is element i - 1.
using TextArray = std::vector<Text>;

// Searching. `start` counts from 1; omitted or below 1 searches from the
// first byte. `ignoreCase` folds only the ASCII letters A to Z.
int FindText(std::string_view text, std::string_view sub,
             std::optional<int> start = std::nullopt, bool ignoreCase = false);
// The last occurrence lying wholly before byte `start` (the whole text when
// `start` is omitted).
int FindTextReverse(std::string_view text, std::string_view sub,
                    std::optional<int> start = std::nullopt,
                    bool ignoreCase = false);

// Cutting by bytes.
Text TextLeft(std::string_view text, int n);
Text TextRight(std::string_view text, int n);
Text TextMid(std::string_view text, int start, int n);

// Replaces occurrences left to right; `caseSensitive` true means exact case
// (the opposite sense of FindText's flag). An omitted replacement removes the
// occurrences; an omitted or negative count means no limit.
Text ReplaceText(std::string_view text, std::string_view sub,
                 std::optional<std::string_view> replacement = std::nullopt,
                 std::optional<int> start = std::nullopt,
                 std::optional<int> count = std::nullopt,
                 bool caseSensitive = false);

// The pieces between separators (default ","). Empty pieces between adjacent
// separators are kept; a final separator adds no empty last piece.
TextArray SplitText(std::string_view text,
                    std::optional<std::string_view> separator = std::nullopt,
                    std::optional<int> maxCount = std::nullopt);

// Removes half-width (0x20) and full-width (0xA1 0xA1) spaces at both ends.
Text TrimBoth(std::string_view text);
// Lower-cases single-byte ASCII capitals; double-byte characters stay.
Text ToLower(std::string_view text);

// A decimal integer from the start of the text, full-width forms folded to
// ASCII first; 32-bit arithmetic that wraps; 0 without digits.
std::int32_t TextToInt(std::string_view text);
Text IntToText(std::int32_t value);

int TextLength(std::string_view text);
// The one-byte text holding `code`; code 0 gives the empty text.
Text CharText(std::uint8_t code);
// `n` half-width spaces; empty when n <= 0.
Text BlankText(int n);

Text ConcatText(std::initializer_list<std::string_view> parts);
template <class... Parts>
Text ConcatText(const Parts&... parts) {
  return ConcatText({std::string_view(parts)...});
}

// -1, 0 or 1, comparing bytes as unsigned values.
int CompareText(std::string_view a, std::string_view b);

Bytes TextToBytes(std::string_view text);
Bytes TextToBytes(const Bytes& bytes);
// The bytes up to, not including, the first zero byte.
Text BytesToText(const Bytes& bytes);
int BytesLength(const Bytes& bytes);
Bytes BytesLeft(const Bytes& bytes, int n);
// `n` zero bytes; empty when n <= 0.
Bytes BlankBytes(int n);
Bytes ConcatBytes(std::initializer_list<const Bytes*> parts);
template <class... Parts>
Bytes ConcatBytes(const Parts&... parts) {
  return ConcatBytes({&parts...});
}
bool BytesEqual(const Bytes& a, const Bytes& b);

int BitOr(std::initializer_list<int> values);
template <class... Values>
int BitOr(Values... values) {
  return BitOr({static_cast<int>(values)...});
}

}  // namespace folivex
