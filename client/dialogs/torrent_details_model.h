#pragma once
// The torrent detail dialog without a toolkit: one torrent's limits, seeding
// goal and peer ratio as the edits show them (with the "+" and "-" steps and
// the conversions back), its tracker rows (with the host each row looks up),
// its files with their wanted marks and the share of each that is done, the
// figures refreshed every second, and what OK does, in its order.

#include "client/dialogs/setting_limits.h"
#include "client/torrents/torrent_control.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class profile;
}

namespace client {

class TorrentItem;

// Control ids of the torrent detail dialog.
namespace details_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kTrackerList = 1011;
inline constexpr int kFileList = 1012;
inline constexpr int kStateLine = 1013;
inline constexpr int kPeerLine = 1014;
inline constexpr int kOriginalTrackers = 1017;
inline constexpr int kSelectAll = 1018;
inline constexpr int kUnselectAll = 1020;
inline constexpr int kUploadLimit = 1053;
inline constexpr int kUploadDown = 1054;
inline constexpr int kUploadUp = 1055;
inline constexpr int kDownloadLimit = 1056;
inline constexpr int kDownloadDown = 1057;
inline constexpr int kDownloadUp = 1058;
inline constexpr int kSeedingTime = 1059;
inline constexpr int kSeedingTimeDown = 1060;
inline constexpr int kSeedingTimeUp = 1061;
inline constexpr int kSeedByTime = 1062;
inline constexpr int kSeedingRatio = 1063;
inline constexpr int kSeedingRatioDown = 1064;
inline constexpr int kSeedingRatioUp = 1065;
inline constexpr int kSeedByRatio = 1066;
inline constexpr int kPeerRatio = 1067;
inline constexpr int kPeerRatioDown = 1068;
inline constexpr int kPeerRatioUp = 1069;
}  // namespace details_id

inline constexpr std::wstring_view kDetailsTitle = L"Torrent Details - Quillfern";

// Tracker list columns and file list columns.
enum TrackerColumn { kTrackerUrl, kTrackerIp, kTrackerTier, kTrackerUser, kTrackerPassword, kTrackerColumns };
enum FileColumn { kFileName, kFileSize, kFilePercent, kFileColumns };

// Reading a number out of an edit, whatever the user's locale: blanks
// before it are skipped, text after it is ignored. A minus sign or a value
// beyond `max` is refused rather than wrapped or cut.
struct NumberRead {
  enum Kind { None, Value, Refused } kind = None;
  std::uint64_t value = 0;
};
NumberRead ReadUnsigned(std::wstring_view text, std::uint64_t max);
// A decimal ratio ("%lf" with a point or a comma); negative values and
// values above kMaxRatio (the engine takes a float) are refused.
inline constexpr double kMaxRatio = 1000000;
struct RatioRead {
  enum Kind { None, Value, Refused } kind = None;
  double value = 0;
};
RatioRead ReadRatio(std::wstring_view text);


// What the edits show: a limit in KB/s or "auto" (unlimited); the seeding
// time in seconds or "no limit" (0), empty while the torrent has none of
// its own; a ratio with two decimals or "off" (0).
std::wstring LimitText(std::int32_t bytes_per_second);
std::wstring SeedingTimeText(std::uint32_t milliseconds);
std::wstring RatioText(double ratio);

// The host part of a tracker URL: after the "://" of a scheme of three,
// four or five letters, up to the first '/', '\\' or ':'. Empty when the
// URL has no such scheme.
std::string TrackerHost(std::string_view url);

// The file walk over the pieces: the pieces file `index` lies in, as the
// first and one past the last. A file of size 0 lies in none.
using PieceSpan = engine::piece_range;
std::vector<PieceSpan> FilePieceSpans(const std::vector<std::int64_t>& file_sizes, std::int64_t piece_length);
// The share of each file's bytes that lie in finished pieces, 0 to 100; a
// file of size 0 is done. Pieces past `finished` count as not finished.
std::vector<double> FileDonePercent(const std::vector<std::int64_t>& file_sizes, std::int64_t piece_length,
                                    const std::vector<bool>& finished);
// A file is wanted while none of its pieces is marked not wanted.
std::vector<bool> FileWantedMarks(const std::vector<std::int64_t>& file_sizes, std::int64_t piece_length,
                                  const std::vector<bool>& not_wanted);

// The "Configuration" keys of the column widths, their defaults and the
// least width kept.
inline constexpr int kMinDetailsColumnWidth = 10;
struct DetailsColumnWidths {
  int trackers[kTrackerColumns] = {295, 115, 33, 20, 20};
  int files[kFileColumns] = {352, 77, 50};
  void Load(const platform::profile& profile);
  void Save(platform::profile& profile) const;
};

struct TrackerRow {
  std::wstring url, ip, tier, user, password;
  // The lookup whose answer this row waits for; 0 for none.
  std::uint64_t lookup = 0;
  const std::wstring& Cell(int column) const;
  std::wstring& Cell(int column);
};

// A host to look up for the row that now waits for `key`.
struct LookupRequest {
  std::uint64_t key = 0;
  std::string host;
};

// A value that keeps the dialog open: the edit to go back to and why.
struct DetailsProblem {
  int id = 0;
  std::wstring message;
};

class TorrentDetailsModel {
 public:
  // Reads the torrent's settings, trackers and (with metadata) files, and
  // its current rates. An engine torrent that has gone leaves the lists
  // empty.
  explicit TorrentDetailsModel(TorrentItem& torrent);

  TorrentItem& Torrent() { return m_torrent; }
  // "<name> Properties", with " (Compact)" until the torrent was added
  // again with full allocation.
  std::wstring Caption() const;

  // --- Edits ------------------------------------------------------------
  static const std::vector<int>& EditIds();
  const std::wstring& EditText(int id) const;
  void SetEditText(int id, std::wstring text);
  int SeedingMode() const { return m_seedingMode; }
  void SetSeedingMode(int mode) { m_seedingMode = mode == 1 ? 1 : 0; }
  bool IsEnabled(int id) const;
  // A "+" or "-" button: reads its edit, steps the value and shows the new
  // one. The edit changed; 0 when `button` is none of them.
  int Step(int button);

  // --- Trackers ---------------------------------------------------------
  const std::vector<TrackerRow>& Trackers() const { return m_trackers; }
  // The rows after a double click on empty space: one more with "http://"
  // and tier "0"; its index.
  int AppendTracker();
  // An edit of a cell ended with `text`. Login columns take it in every
  // row; an empty text removes the row; a new URL starts a lookup. The rows
  // to show again (all when a login changed, none when a row went).
  std::vector<int> EditTracker(int row, int column, const std::wstring& text);
  void RemoveTracker(int row);
  // "Original Trackers": the rows become the trackers of the metainfo.
  // False (nothing changes) without metadata.
  bool OriginalTrackers();
  // The lookups to start since the last call.
  std::vector<LookupRequest> TakeLookups();
  // A lookup answered: the row waiting for it shows the address or
  // "failed"; -1 when no row waits for it any more (the answer is dropped).
  int HostResolved(std::uint64_t key, const std::optional<std::string>& address);

  // --- Files ------------------------------------------------------------
  // One row per file of the metainfo, in its order. The texts of a row are
  // made when asked for (the list shows only the rows in view): the path,
  // the size in bytes and the share done with two decimals (empty until
  // the first refresh).
  int FileCount() const { return int(m_wanted.size()); }
  std::wstring FileText(int row, int column) const;
  bool IsWanted(int row) const;
  void SetWanted(int row, bool wanted);
  void SetAllWanted(bool wanted);

  // --- Timer ------------------------------------------------------------
  struct Figures {
    std::wstring state_line;
    std::wstring peer_line;
    bool files_filled = false;    // the file list was filled now (metadata came)
    bool percents_changed = false;  // some file's share done is not what it was
    bool disable_files = false;   // one file: the list and its buttons go grey, once
  };
  // Every second while the dialog is open; none while the torrent has no
  // metadata or has gone (the shown texts stay).
  std::optional<Figures> Refresh();

  // --- OK ---------------------------------------------------------------
  // Reads the edits; the first refused value keeps the dialog open and
  // nothing is applied.
  std::optional<DetailsProblem> Check() const;
  // After Check: the tracker rows replace the torrent's trackers (the
  // login goes with them); when the wanted marks of a torrent of two or
  // more files changed, the engine takes them and the torrent is added
  // again (which carries the trackers and login over); then the limits,
  // goal and peer ratio are stored and applied. Each engine step fails on
  // its own when the torrent has gone.
  void Apply();
  // Whether Apply handed the file marks to the engine.
  bool FilesApplied() const { return m_filesApplied; }

 private:
  static std::size_t EditIndex(int id);
  std::wstring& Edit(int id);
  void FillTrackers(const std::vector<engine::announce_entry>& trackers);
  void StartLookup(TrackerRow& row);
  void FillFiles(const engine::torrent_metainfo& info, const std::vector<bool>& not_wanted);
  std::vector<std::int64_t> FileSizes() const;
  // The limit an edit holds in bytes per second, -1 for unlimited.
  std::int32_t LimitValue(int id) const;
  void ApplyTrackers();
  void ApplyFiles();
  void ApplySettings();

  TorrentItem& m_torrent;
  std::wstring m_edits[5];
  std::wstring m_shown[5];  // the texts as first shown
  int m_seedingMode = 0;
  float m_uploadRate = 0, m_downloadRate = 0;
  std::vector<TrackerRow> m_trackers;
  std::uint64_t m_nextLookup = 1;
  std::vector<LookupRequest> m_lookups;
  // The files' paths and sizes, shared with the engine's copy.
  engine::torrent_metainfo m_info;
  std::vector<bool> m_wanted;
  std::vector<bool> m_shownWanted;
  // Each file's share done, 0 to 100; empty until the first refresh.
  std::vector<double> m_done;
  std::int64_t m_pieceLength = 0;
  bool m_metadataSeen = false;
  bool m_filesDisabled = false;
  bool m_filesApplied = false;
};

}  // namespace client
