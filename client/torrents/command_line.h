#pragma once
// The program's command line: a start with the path of a .torrent file opens
// it, in the first instance and in one that a later start hands it to.

#include <optional>
#include <string>
#include <string_view>

namespace client {

// The command line as one text: the arguments after the program name,
// joined with blanks (an unquoted path with blanks arrives in pieces).
std::string JoinArguments(int argc, const char* const* argv);

// The program's own arguments as the system handed them to main, kept
// before the toolkit converts them by the locale (which loses or mangles a
// path whose bytes are no text there: not UTF-8, or not ASCII with LANG
// unset). A path is a path by its bytes.
void KeepProgramArguments(int argc, const char* const* argv);
// JoinArguments of the kept arguments; none when none were kept.
std::optional<std::string> KeptCommandLine();

// The command-line rule: every '"' is removed; the rest names a .torrent
// file when its last 8 characters are ".torrent" exactly (case counts; a
// shorter text names none). The whole remaining text is the path.
std::optional<std::string> TorrentPathFromCommandLine(std::string_view text);

// What a later start hands to the first instance: a relative .torrent path
// made absolute against `current_folder` (the first instance runs
// elsewhere); any other text as it is.
std::string CommandLineToHandOver(std::string_view text, std::string_view current_folder);

}  // namespace client
