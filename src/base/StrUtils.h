#pragma once
// Small string helpers every room uses: hexadecimal digits, ASCII lower case, trimming and
// UTF-8 sequences. One copy of each, so that rooms do not grow their own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The value of a hexadecimal digit (either case); -1 for any other character.
int HexValue(char c);

// ASCII letters A..Z become a..z; every other byte (UTF-8 included) is kept.
std::string LowerCase(std::string s);

// S without the leading and trailing characters found in Blanks.
inline constexpr const char* DefaultBlanks = " \t\r\n";
std::string Trim(const std::string& s, const char* blanks = DefaultBlanks);

// Decodes one UTF-8 sequence at S[i] into Cp. Overlong forms and code points above U+10FFFF are
// refused; surrogates encoded in three bytes are accepted only with AllowSurrogates (they are
// what a \ud800-style JSON escape reads into). Returns the length, or 0 when invalid.
size_t DecodeUtf8At(std::string_view s, size_t i, uint32_t& cp, bool allowSurrogates);
bool IsValidUtf8(std::string_view s);
// Appends code point Cp as UTF-8 (lone surrogates are kept as three-byte sequences so that
// they survive a read and write unchanged).
void AppendUtf8(std::string& out, uint32_t cp);
