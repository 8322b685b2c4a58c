#include "client/dialogs/torrent_details_model.h"

#include "client/common/list_edit.h"
#include "client/torrents/torrent_item.h"
#include "client/base/wide_text.h"
#include "engine/session/torrent_handle.h"
#include "platform/profile.h"

#include <algorithm>
#include <utility>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>

namespace client {

namespace id = details_id;

namespace {

// Upper ends of the "+" steps.
constexpr std::int32_t kLimitStepCeiling = 16777215;    // bytes per second
constexpr std::uint32_t kTimeStepCeiling = 134217727;   // milliseconds
constexpr std::uint32_t kTimeStep = 300000;             // 5 minutes
constexpr double kRatioStepCeiling = 1000;
constexpr double kRatioStep = 0.5;

constexpr std::string_view kConfiguration = "Configuration";

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

std::size_t SkipBlanks(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

// printf's "%.Nf" without the user's decimal comma.
std::wstring Fixed(double value, int decimals) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? Utf8ToWide(std::string_view(buffer, std::size_t(end - buffer))) : std::wstring();
}

// The position of the edit of a "+" or "-" button, by the edit's id.
int EditOf(int button) {
  switch (button) {
    case id::kUploadDown:
    case id::kUploadUp:
      return id::kUploadLimit;
    case id::kDownloadDown:
    case id::kDownloadUp:
      return id::kDownloadLimit;
    case id::kSeedingTimeDown:
    case id::kSeedingTimeUp:
      return id::kSeedingTime;
    case id::kSeedingRatioDown:
    case id::kSeedingRatioUp:
      return id::kSeedingRatio;
    case id::kPeerRatioDown:
    case id::kPeerRatioUp:
      return id::kPeerRatio;
    default:
      return 0;
  }
}

bool IsUp(int button) {
  return button == id::kUploadUp || button == id::kDownloadUp || button == id::kSeedingTimeUp ||
         button == id::kSeedingRatioUp || button == id::kPeerRatioUp;
}

// Runs one engine call; false when the torrent has gone.
template <class F>
bool Guarded(F&& call) {
  try {
    call();
    return true;
  } catch (const engine::invalid_handle&) {
    return false;
  }
}

}  // namespace

NumberRead ReadUnsigned(std::wstring_view text, std::uint64_t max) {
  std::size_t i = SkipBlanks(text);
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
    const bool minus = text[i++] == L'-';
    if (i >= text.size() || !IsDigit(text[i])) return {};
    if (minus) return {NumberRead::Refused, 0};
  }
  if (i >= text.size() || !IsDigit(text[i])) return {};
  std::uint64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + std::uint64_t(text[i] - L'0');
    if (value > max) return {NumberRead::Refused, 0};
  }
  return {NumberRead::Value, value};
}

RatioRead ReadRatio(std::wstring_view text) {
  text.remove_prefix(SkipBlanks(text));
  // Only the characters a decimal number can hold, as bytes; a decimal
  // comma is read as the point.
  std::string digits;
  for (wchar_t c : text) {
    if (c == L',' && digits.find('.') == std::string::npos) c = L'.';
    if (!(IsDigit(c) || c == L'.' || c == L'-' || c == L'+' || c == L'e' || c == L'E')) break;
    digits.push_back(char(c));
  }
  if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
  double value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec == std::errc::result_out_of_range) return {RatioRead::Refused, 0};
  if (ec != std::errc() || end == digits.data()) return {};
  if (!(value <= kMaxRatio) || value < 0 || std::signbit(value)) return {RatioRead::Refused, 0};
  return {RatioRead::Value, value};
}

std::wstring LimitText(std::int32_t bytes_per_second) {
  if (bytes_per_second < 0) return L"auto";
  return std::to_wstring(bytes_per_second / 1024);
}

std::wstring SeedingTimeText(std::uint32_t milliseconds) {
  if (milliseconds == kSeedingTimeUnset) return {};
  if (milliseconds == 0) return L"no limit";
  return std::to_wstring(milliseconds / 1000);
}

std::wstring RatioText(double ratio) { return ratio == 0 ? std::wstring(L"off") : Fixed(ratio, 2); }

std::string TrackerHost(std::string_view url) {
  std::size_t start = std::string_view::npos;
  for (std::size_t colon : {4, 3, 5})
    if (url.size() > colon + 2 && url.substr(colon, 3) == "://") {
      start = colon + 3;
      break;
    }
  if (start == std::string_view::npos) return {};
  const std::string_view rest = url.substr(start);
  return std::string(rest.substr(0, rest.find_first_of("/\\:")));
}

std::vector<PieceSpan> FilePieceSpans(const std::vector<std::int64_t>& file_sizes, std::int64_t piece_length) {
  std::vector<PieceSpan> spans;
  spans.reserve(file_sizes.size());
  std::int64_t offset = 0;
  for (std::int64_t size : file_sizes) {
    spans.push_back(engine::pieces_of_bytes(offset, size, piece_length));
    offset += std::max<std::int64_t>(size, 0);
  }
  return spans;
}

std::vector<double> FileDonePercent(const std::vector<std::int64_t>& file_sizes, std::int64_t piece_length,
                                    const std::vector<bool>& finished) {
  const std::vector<PieceSpan> spans = FilePieceSpans(file_sizes, piece_length);
  std::vector<double> done;
  done.reserve(file_sizes.size());
  std::int64_t offset = 0;
  for (std::size_t f = 0; f < file_sizes.size(); ++f) {
    const std::int64_t size = file_sizes[f];
    if (size <= 0) {
      done.push_back(100.0);
      continue;
    }
    std::int64_t bytes = 0;
    for (int p = spans[f].first; p < spans[f].end; ++p) {
      if (std::size_t(p) >= finished.size() || !finished[std::size_t(p)]) continue;
      const std::int64_t from = std::max(offset, std::int64_t(p) * piece_length);
      const std::int64_t to = std::min(offset + size, std::int64_t(p + 1) * piece_length);
      bytes += to - from;
    }
    done.push_back(double(bytes) * 100.0 / double(size));
    offset += size;
  }
  return done;
}

std::vector<bool> FileWantedMarks(const std::vector<std::int64_t>& file_sizes, std::int64_t piece_length,
                                  const std::vector<bool>& not_wanted) {
  std::vector<bool> wanted;
  for (const PieceSpan& span : FilePieceSpans(file_sizes, piece_length)) {
    bool all = true;
    for (int p = span.first; p < span.end && all; ++p)
      all = std::size_t(p) >= not_wanted.size() || !not_wanted[std::size_t(p)];
    wanted.push_back(all);
  }
  return wanted;
}

// --- column widths

namespace {
// "TL01" and on, "FL01" and on.
std::string WidthKey(const char* list, int column) { return std::string(list) + "0" + std::to_string(column + 1); }
}  // namespace

void DetailsColumnWidths::Load(const platform::profile& profile) {
  for (int c = 0; c < kTrackerColumns; ++c)
    trackers[c] = std::max(kMinDetailsColumnWidth, profile.GetProfileInt(kConfiguration, WidthKey("TL", c), trackers[c]));
  for (int c = 0; c < kFileColumns; ++c)
    files[c] = std::max(kMinDetailsColumnWidth, profile.GetProfileInt(kConfiguration, WidthKey("FL", c), files[c]));
}

void DetailsColumnWidths::Save(platform::profile& profile) const {
  for (int c = 0; c < kTrackerColumns; ++c)
    profile.WriteProfileInt(kConfiguration, WidthKey("TL", c), std::max(kMinDetailsColumnWidth, trackers[c]));
  for (int c = 0; c < kFileColumns; ++c)
    profile.WriteProfileInt(kConfiguration, WidthKey("FL", c), std::max(kMinDetailsColumnWidth, files[c]));
}

// --- rows

const std::wstring& TrackerRow::Cell(int column) const {
  return const_cast<TrackerRow*>(this)->Cell(column);
}

std::wstring& TrackerRow::Cell(int column) {
  switch (column) {
    case kTrackerIp:
      return ip;
    case kTrackerTier:
      return tier;
    case kTrackerUser:
      return user;
    case kTrackerPassword:
      return password;
    default:
      return url;
  }
}

// --- the model

TorrentDetailsModel::TorrentDetailsModel(TorrentItem& torrent) : m_torrent(torrent) {
  const SeedingGoal& goal = torrent.Goal();
  Edit(id::kUploadLimit) = LimitText(torrent.Limits().upload);
  Edit(id::kDownloadLimit) = LimitText(torrent.Limits().download);
  Edit(id::kSeedingTime) = SeedingTimeText(goal.time);
  Edit(id::kSeedingRatio) = RatioText(goal.ratio);
  Edit(id::kPeerRatio) = RatioText(goal.peer_ratio);
  std::copy(std::begin(m_edits), std::end(m_edits), std::begin(m_shown));
  m_seedingMode = goal.mode == client::SeedingMode::ByRatio ? 1 : 0;

  const TorrentHandle& handle = torrent.Handle();
  Guarded([&] {
    const engine::torrent_status status = handle.status();
    m_uploadRate = status.upload_rate;
    m_downloadRate = status.download_rate;
  });
  Guarded([&] { FillTrackers(handle.trackers()); });
  Guarded([&] {
    if (!handle.has_metadata()) return;
    const engine::torrent_metainfo info = handle.metainfo();
    FillFiles(info, handle.filtered_pieces());
  });
}

std::wstring TorrentDetailsModel::Caption() const {
  return m_torrent.Chart().GetName() + (m_torrent.HasFilteredPieces() ? L" Properties" : L" Properties (Compact)");
}

const std::vector<int>& TorrentDetailsModel::EditIds() {
  static const std::vector<int> ids = {id::kUploadLimit, id::kDownloadLimit, id::kSeedingTime, id::kSeedingRatio,
                                       id::kPeerRatio};
  return ids;
}

std::size_t TorrentDetailsModel::EditIndex(int control) {
  const auto& ids = EditIds();
  const auto at = std::find(ids.begin(), ids.end(), control);
  return at == ids.end() ? 0 : std::size_t(at - ids.begin());
}

std::wstring& TorrentDetailsModel::Edit(int control) { return m_edits[EditIndex(control)]; }

const std::wstring& TorrentDetailsModel::EditText(int control) const {
  return const_cast<TorrentDetailsModel*>(this)->Edit(control);
}

void TorrentDetailsModel::SetEditText(int control, std::wstring text) { Edit(control) = std::move(text); }

bool TorrentDetailsModel::IsEnabled(int control) const {
  switch (control) {
    case id::kSeedingTime:
    case id::kSeedingTimeDown:
    case id::kSeedingTimeUp:
      return m_seedingMode == 0;
    case id::kSeedingRatio:
    case id::kSeedingRatioUp:
    case id::kSeedingRatioDown:
      return m_seedingMode == 1;
    case id::kFileList:
    case id::kSelectAll:
    case id::kUnselectAll:
      return !m_filesDisabled;
    default:
      return true;
  }
}

std::int32_t TorrentDetailsModel::LimitValue(int control) const {
  const NumberRead read = ReadUnsigned(EditText(control), kMaxRateLimitKb);
  return read.kind == NumberRead::Value ? std::int32_t(read.value * 1024) : -1;
}

int TorrentDetailsModel::Step(int button) {
  const int edit = EditOf(button);
  if (!edit) return 0;
  const bool up = IsUp(button);
  std::wstring& text = Edit(edit);
  if (edit == id::kUploadLimit || edit == id::kDownloadLimit) {
    const float rate = edit == id::kUploadLimit ? m_uploadRate : m_downloadRate;
    const std::int64_t step = std::max<std::int64_t>(1024, std::int64_t(rate / 10));
    std::int64_t value = LimitValue(edit);
    if (up) {
      if (value < kLimitStepCeiling) value = std::min<std::int64_t>(value + step, kMaxRateLimitKb * 1024);
    } else if (value >= 0) {
      value = step > value ? -1 : value - step;
    }
    text = LimitText(std::int32_t(value));
  } else if (edit == id::kSeedingTime) {
    const NumberRead read = ReadUnsigned(text, kMaxSeedingSeconds);
    std::uint32_t ms = read.kind == NumberRead::Value ? std::uint32_t(read.value * 1000) : 0;
    if (up) {
      if (ms < kTimeStepCeiling) ms += kTimeStep;
    } else {
      ms = ms > kTimeStep ? ms - kTimeStep : 0;
    }
    text = SeedingTimeText(ms);
  } else {
    const RatioRead read = ReadRatio(text);
    double ratio = read.kind == RatioRead::Value ? read.value : 0;
    const bool peer = edit == id::kPeerRatio;
    if (up) {
      if (peer && ratio < kRatioStep) ratio = kRatioStep;
      if (ratio < kRatioStepCeiling) ratio += kRatioStep;
    } else {
      ratio = ratio > kRatioStep ? ratio - kRatioStep : 0;
      if (peer && ratio < 1.0) ratio = 0;
    }
    text = RatioText(ratio);
  }
  return edit;
}

// --- trackers

void TorrentDetailsModel::FillTrackers(const std::vector<engine::announce_entry>& trackers) {
  m_trackers.clear();
  for (const engine::announce_entry& tracker : trackers) {
    TrackerRow row;
    row.url = Utf8ToWide(tracker.url);
    row.tier = std::to_wstring(unsigned(tracker.tier));
    StartLookup(row);
    m_trackers.push_back(std::move(row));
  }
}

void TorrentDetailsModel::StartLookup(TrackerRow& row) {
  row.ip.clear();
  row.lookup = 0;
  const std::string host = TrackerHost(WideToUtf8(row.url));
  if (host == "dht") return;
  if (host.empty()) {
    row.ip = L"failed";
    return;
  }
  row.lookup = m_nextLookup++;
  m_lookups.push_back({row.lookup, host});
}

int TorrentDetailsModel::AppendTracker() {
  TrackerRow row;
  row.url = L"http://";
  row.tier = L"0";
  m_trackers.push_back(std::move(row));
  return int(m_trackers.size()) - 1;
}

std::vector<int> TorrentDetailsModel::EditTracker(int row, int column, const std::wstring& text) {
  if (row < 0 || row >= int(m_trackers.size()) || column < 0 || column >= kTrackerColumns) return {};
  switch (EndEditRule(column, text)) {
    case EndEditAction::DeleteRow:
      RemoveTracker(row);
      return {};
    case EndEditAction::None:
      return {};
    case EndEditAction::WriteCell:
      break;
  }
  std::vector<int> changed;
  if (column == kTrackerUser || column == kTrackerPassword) {
    // One login for all trackers.
    for (std::size_t r = 0; r < m_trackers.size(); ++r) {
      m_trackers[r].Cell(column) = text;
      changed.push_back(int(r));
    }
    return changed;
  }
  TrackerRow& edited = m_trackers[std::size_t(row)];
  const bool new_url = column == kTrackerUrl && edited.url != text;
  edited.Cell(column) = text;
  if (new_url) StartLookup(edited);
  return {row};
}

void TorrentDetailsModel::RemoveTracker(int row) {
  // Its lookup's answer finds no row and is dropped.
  if (row >= 0 && row < int(m_trackers.size())) m_trackers.erase(m_trackers.begin() + row);
}

bool TorrentDetailsModel::OriginalTrackers() {
  if (!m_metadataSeen) return false;
  return Guarded([&] { FillTrackers(m_torrent.Handle().metainfo().trackers()); });
}

std::vector<LookupRequest> TorrentDetailsModel::TakeLookups() { return std::exchange(m_lookups, {}); }

int TorrentDetailsModel::HostResolved(std::uint64_t key, const std::optional<std::string>& address) {
  if (key == 0) return -1;
  for (int r = int(m_trackers.size()) - 1; r >= 0; --r) {
    TrackerRow& row = m_trackers[std::size_t(r)];
    if (row.lookup != key) continue;
    row.ip = address ? Utf8ToWide(*address) : L"failed";
    row.lookup = 0;
    return r;
  }
  return -1;
}

// --- files

void TorrentDetailsModel::FillFiles(const engine::torrent_metainfo& info, const std::vector<bool>& not_wanted) {
  m_metadataSeen = true;
  m_info = info;
  m_pieceLength = info.piece_length();
  m_wanted = FileWantedMarks(FileSizes(), m_pieceLength, not_wanted);
  m_shownWanted = m_wanted;
  m_done.clear();
}

std::vector<std::int64_t> TorrentDetailsModel::FileSizes() const {
  std::vector<std::int64_t> sizes;
  sizes.reserve(m_info.files().size());
  for (const engine::file_entry& file : m_info.files()) sizes.push_back(file.size);
  return sizes;
}

std::wstring TorrentDetailsModel::FileText(int row, int column) const {
  if (row < 0 || row >= FileCount()) return {};
  const engine::file_entry& file = m_info.files()[std::size_t(row)];
  switch (column) {
    case kFileName:
      return Utf8ToWide(file.path);
    case kFileSize:
      return std::to_wstring(file.size);
    case kFilePercent:
      return m_done.empty() ? std::wstring() : Fixed(m_done[std::size_t(row)], 2);
    default:
      return {};
  }
}

bool TorrentDetailsModel::IsWanted(int row) const {
  return row >= 0 && row < FileCount() && m_wanted[std::size_t(row)];
}

void TorrentDetailsModel::SetWanted(int row, bool wanted) {
  if (row >= 0 && row < FileCount()) m_wanted[std::size_t(row)] = wanted;
}

void TorrentDetailsModel::SetAllWanted(bool wanted) { m_wanted.assign(m_wanted.size(), wanted); }

// --- timer

std::optional<TorrentDetailsModel::Figures> TorrentDetailsModel::Refresh() {
  std::optional<Figures> figures;
  const TorrentHandle& handle = m_torrent.Handle();
  Guarded([&] {
    if (!handle.is_valid() || !handle.has_metadata()) return;
    Figures f;
    if (!m_metadataSeen) {
      FillFiles(handle.metainfo(), handle.filtered_pieces());
      f.files_filled = true;
    }
    const engine::torrent_status status = handle.status();
    const bool seed = handle.is_seed();
    std::vector<double> done = FileDonePercent(FileSizes(), m_pieceLength, status.pieces);
    f.percents_changed = done != m_done;
    m_done = std::move(done);
    if (FileCount() == 1 && !m_filesDisabled) {
      m_filesDisabled = true;
      f.disable_files = true;
    }

    const unsigned peers = unsigned(status.num_peers), seeds = unsigned(status.num_seeds);
    const std::wstring copies = Fixed(status.distributed_copies, 6);
    if (seed)
      f.peer_line = FormatWide("Peers: %u", peers);
    else
      f.peer_line = FormatWide("Peers: %u  Seeds: %u\nCopies: ", peers, seeds) + copies;
    if (status.num_complete != -1 || status.num_incomplete != -1)
      f.peer_line += FormatWide("\nIncomplete: %d Complete: %d", status.num_incomplete, status.num_complete);

    if (handle.is_paused())
      f.state_line = L"Torrent is paused";
    else
      f.state_line = seed ? L"Torrent is seeding" : L"Torrent is loading";
    figures = std::move(f);
  });
  return figures;
}

// --- OK

std::optional<DetailsProblem> TorrentDetailsModel::Check() const {
  for (int control : {id::kUploadLimit, id::kDownloadLimit})
    if (ReadUnsigned(EditText(control), kMaxRateLimitKb).kind == NumberRead::Refused)
      return DetailsProblem{control, L"Please enter a limit from 0 to 2097151 KB/s, or auto."};
  if (ReadUnsigned(EditText(id::kSeedingTime), kMaxSeedingSeconds).kind == NumberRead::Refused)
    return DetailsProblem{id::kSeedingTime, L"Please enter a seeding time from 0 to 4294967 seconds."};
  for (int control : {id::kSeedingRatio, id::kPeerRatio})
    if (ReadRatio(EditText(control)).kind == RatioRead::Refused)
      return DetailsProblem{control, L"Please enter a ratio from 0 to 1000000."};
  return std::nullopt;
}

void TorrentDetailsModel::Apply() {
  ApplyTrackers();
  ApplyFiles();
  ApplySettings();
}

void TorrentDetailsModel::ApplyTrackers() {
  std::vector<engine::announce_entry> trackers;
  for (const TrackerRow& row : m_trackers) {
    const NumberRead tier = ReadUnsigned(row.tier, std::uint64_t(std::numeric_limits<int>::max()));
    trackers.push_back({WideToUtf8(row.url), tier.kind == NumberRead::Value ? int(tier.value) : 0});
    // Kept by the torrent, so that the login outlives a re-add.
    if (!row.user.empty())
      Guarded([&] { m_torrent.SetTrackerLogin(WideToUtf8(row.user), WideToUtf8(row.password)); });
  }
  Guarded([&] { m_torrent.Handle().replace_trackers(trackers); });
}

void TorrentDetailsModel::ApplyFiles() {
  m_filesApplied = false;
  if (!m_metadataSeen || FileCount() < 2) return;
  // An unchanged selection leaves the torrent as it runs.
  if (m_wanted == m_shownWanted) return;
  std::vector<bool> not_wanted = m_wanted;
  not_wanted.flip();
  m_filesApplied = Guarded([&] { m_torrent.Handle().filter_files(not_wanted); });
  if (m_filesApplied) m_torrent.ReAdd();
}

void TorrentDetailsModel::ApplySettings() {
  // An edit left as it was shown keeps the stored value (a limit of 1500
  // bytes per second shows 1 KB/s, and an unset seeding time shows empty).
  auto changed = [this](int control) { return EditText(control) != m_shown[EditIndex(control)]; };
  TransferLimits limits = m_torrent.Limits();
  if (changed(id::kUploadLimit)) limits.upload = LimitValue(id::kUploadLimit);
  if (changed(id::kDownloadLimit)) limits.download = LimitValue(id::kDownloadLimit);
  m_torrent.SetLimits(limits);
  SeedingGoal goal = m_torrent.Goal();
  if (changed(id::kSeedingTime)) {
    const NumberRead read = ReadUnsigned(EditText(id::kSeedingTime), kMaxSeedingSeconds);
    goal.time = read.kind == NumberRead::Value ? std::uint32_t(read.value * 1000) : 0;
  }
  auto ratio = [this](int control) {
    const RatioRead read = ReadRatio(EditText(control));
    return read.kind == RatioRead::Value ? read.value : 0.0;
  };
  if (changed(id::kSeedingRatio)) goal.ratio = ratio(id::kSeedingRatio);
  if (changed(id::kPeerRatio)) goal.peer_ratio = ratio(id::kPeerRatio);
  goal.mode = client::SeedingMode(m_seedingMode);
  m_torrent.SetSeedingGoal(goal);
  m_torrent.ApplySettings();
}

}  // namespace client
