#pragma once
// Making a .torrent file: what the make-torrent dialog hands to its worker,
// the piece-size rule, and the work itself (hashing the files, building the
// metainfo with the engine, writing the file).

#include "client/dialogs/make_torrent_files.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace client {

// The largest piece-size exponent that can be chosen (2 MiB pieces).
inline constexpr unsigned kMaxPieceExponent = 21;

// The exponent chosen for `total` bytes when the user chose none: about
// 512 pieces, trunc(log2(total)) - 9 taken as an unsigned 32-bit value,
// then at most 18 (which totals under 512 bytes, whose value wraps, also
// get) and at least 4: 16-byte to 256 KiB pieces.
unsigned AutoPieceExponent(std::int64_t total);
// The piece length for exponent `exponent` (0: automatic) and `total` bytes.
std::int64_t PieceLengthFor(unsigned exponent, std::int64_t total);

// A DHT node row "host:port": the host (the text before the first ':', in
// UTF-8) and the port. None for a row without ':', with an empty host, or
// whose port is no decimal number from 1 to 65535.
std::optional<std::pair<std::string, int>> ParseNodeRow(std::wstring_view row);
// A tier text as a number: its leading decimal digits, 0 when it has none.
int TierNumber(std::wstring_view text);

struct MakeTorrentTrackerRow {
  std::wstring url;
  std::wstring tier;  // its number as text

  friend bool operator==(const MakeTorrentTrackerRow&, const MakeTorrentTrackerRow&) = default;
};

// Everything the worker needs, copied from the dialog when it starts.
struct MakeTorrentJob {
  std::vector<MakeTorrentFile> files;  // in list order
  std::vector<MakeTorrentTrackerRow> trackers;    // in list order
  std::vector<std::wstring> nodes;     // in list order
  unsigned piece_exponent = 0;         // 0: automatic
  std::wstring comment;
  std::wstring output_file;
  std::string creator;                 // "created by", UTF-8
};

struct MakeTorrentResult {
  enum class Outcome { Written, Cancelled, Failed };
  Outcome outcome = Outcome::Failed;
  // Failed: the text for the user.
  std::wstring message;
  // Written: the info-hash as 40 upper-case hex digits, and the number of
  // pieces hashed.
  std::wstring info_hash;
  int pieces = 0;
};

// The texts of a failure: an exception's message follows the first.
inline constexpr std::wstring_view kMakeTorrentError = L"Could not make torrent file.\n";
inline constexpr std::wstring_view kMakeTorrentFailure = L"Failed to make torrent file. (Error level 2)";

// Position `position` (0 .. range) of `range` pieces hashed. Called on the
// worker's thread, at most about a thousand times per torrent.
using MakeTorrentProgress = std::function<void(int position, int range)>;

// Hashes the job's files piece by piece and writes the .torrent through a
// temporary file renamed over the output, so that a failure or a cancel
// (`cancel` is looked at before each piece) leaves no file, nor half of
// one. The files, in list order, are laid out by LayOutFiles; the trackers
// go in with the numbers of their tier texts; nodes that ParseNodeRow
// takes become the torrent's "nodes" list when there is any.
MakeTorrentResult MakeTorrent(const MakeTorrentJob& job, const std::atomic<bool>& cancel,
                              const MakeTorrentProgress& progress = {});

}  // namespace client
