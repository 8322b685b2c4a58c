#pragma once
// Text conversions between UTF-16 (the GUI's text) and UTF-8 (the engine's),
// the local file-name rule, and URL escaping for tracker requests.

#include <filesystem>
#include <string>
#include <string_view>

namespace engine {

// UTF-16 code units to UTF-8, one unit at a time (surrogate halves are not
// paired; each becomes its own three-byte form).
std::string wchar_utf8(std::u16string_view text);
void wchar_utf8(std::u16string_view text, std::string& out);

// UTF-8 to UTF-16. Throws std::runtime_error "UTF-8 not convertable to
// UTF-16" (a lead byte that starts no one-, two- or three-byte form),
// "incomplete UTF-8 sequence" (the text ends inside a form) or "invalid UTF-8
// sequence" (a bad continuation byte, or an overlong form).
std::u16string utf8_wchar(std::string_view text);
void utf8_wchar(std::string_view text, std::u16string& out);

// The process-wide option "Remove_FromFileNames" (off by default).
void set_remove_underscores(bool on);
bool remove_underscores();

// With the option on, every '_' of the path's last component becomes a blank.
std::u16string ReplaceUnderscoresInFileName(std::u16string path);

// A torrent's UTF-8 file path as the local path, after the underscore rule.
// Never throws: the rule is applied to the bytes, so a path that is not
// UTF-16-convertible (a four-byte form, bytes that are no UTF-8) keeps its
// bytes but for the underscores of its last component.
std::filesystem::path ToLocalFilePath(const std::string& utf8_path);
std::filesystem::path ToLocalFilePath(const std::filesystem::path& path);

// Bytes other than letters, digits and "-_.!~*()" become "%xx" (lower case).
std::string escape_string(const char* bytes, int length);

// '+' becomes a blank and "%xx" a byte; throws std::runtime_error
// "invalid escaped string" on a broken escape.
std::string unescape_string(std::string_view text);

}  // namespace engine
