#pragma once
// The name under which an added .torrent is kept in the data folder.
//
// Names come from dropped files, downloads and the command line, so they
// are decoded once ("%20" is a blank) and then checked: a decoded name that
// could reach outside the data folder is refused, and a name already in use
// there gets a number, so that one torrent's copy never replaces another's.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace client {

// Every '%' followed by two hexadecimal digits becomes the byte of that
// code; any other '%' stays as it is.
std::string DecodePercentEscapes(std::string_view text);

// Whether `name` can stand as one file name in a folder: not empty, not
// "." or "..", and without '/' or NUL.
bool IsPlainFileName(std::string_view name);

// The longest copy name: with the longest side-file suffix and the
// temporary name a save writes first (".ResumeData.tmp.<pid>.<n>") it
// stays within the 255 bytes of a file name.
inline constexpr std::size_t kMaxCopyNameBytes = 221;
// What UniqueTorrentName may add (" (n)") is kept free below that.
inline constexpr std::size_t kCopyNameNumberRoom = 8;

// A name the list file can keep as a section name and give back: bytes
// that are no UTF-8 become U+FFFD, control characters (line breaks among
// them) a blank. Any other name comes back as it is.
std::string ListSafeName(std::string_view name);

// The name cut (at a character) so that it is at most `max_bytes` long,
// keeping its ".torrent" ending.
std::string ShortenTorrentName(std::string_view name, std::size_t max_bytes);

// The copy's name for the .torrent at `source`: the part after its last
// '/' (a backslash is part of a name here), decoded, with the underscore rule applied and ".torrent"
// appended unless it ends in it (case counts); then made list-safe and
// shortened to leave room for its side files. None when the decoded name
// is no plain file name.
std::optional<std::string> TorrentCopyName(std::string_view source);

// `name` when `taken` says that `folder` + `name` is free, else the first
// free of "stem (2).ext", "stem (3).ext", ... (the extension is the part
// from the last '.'). `folder` ends in a separator.
std::string UniqueTorrentName(std::string_view folder, std::string_view name,
                              const std::function<bool(const std::string& path)>& taken);

}  // namespace client
