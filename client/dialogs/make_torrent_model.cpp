#include "client/dialogs/make_torrent_model.h"

#include "client/common/CVersionsInfo.h"
#include "client/common/color_scheme.h"
#include "client/common/paths.h"
#include "client/base/wide_text.h"
#include "platform/profile.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace fs = std::filesystem;

namespace client {

namespace {

using K = DialogControlKind;

// `prefix` followed by the index in at least two digits.
std::string Numbered(std::string_view prefix, unsigned index) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02u", index);
  return std::string(prefix) + digits;
}

// A text setting; none when the profile does not hold it.
std::optional<std::wstring> ReadText(const platform::profile& profile, std::string_view name) {
  const std::string value = profile.GetProfileString(kConfigurationSection, name, kMissingSetting);
  if (value == kMissingSetting) return std::nullopt;
  return Utf8ToWide(value);
}

void ReadWidths(const platform::profile& profile, std::string_view prefix, std::vector<int>& widths) {
  for (unsigned i = 0; i < widths.size(); ++i)
    widths[i] = std::max(kMinColumnWidth, profile.GetProfileInt(kConfigurationSection, Numbered(prefix, i),
                                                                kDefaultColumnWidth));
}

void WriteWidths(platform::profile& profile, std::string_view prefix, const std::vector<int>& widths) {
  for (unsigned i = 0; i < widths.size(); ++i)
    profile.WriteProfileInt(kConfigurationSection, Numbered(prefix, i), std::max(kMinColumnWidth, widths[i]));
}

// After an edit of row `row`'s first column: the text taken, or the row
// removed when it is empty.
template <class Rows, class Set>
void EndEdit(Rows& rows, int row, const std::optional<std::wstring>& text, Set set) {
  if (!text || row < 0 || row >= static_cast<int>(rows.size())) return;
  if (text->empty())
    rows.erase(rows.begin() + row);
  else
    set(rows[static_cast<std::size_t>(row)], *text);
}

template <class Rows, class Row>
int RowToEdit(Rows& rows, int row, Row fresh) {
  if (row >= 0 && row < static_cast<int>(rows.size())) return row;
  rows.push_back(std::move(fresh));
  return static_cast<int>(rows.size()) - 1;
}

}  // namespace

const std::vector<DialogControl>& MakeTorrentControls() {
  static const std::vector<DialogControl> controls = {
      {kIdNone, K::Label, L"Files:", Rect::FromSize(7, 7, 100, 8)},
      {kIdFileCount, K::Value, L"no file", Rect::FromSize(167, 7, 100, 8), true},
      {kIdFileList, K::List, L"", Rect::FromSize(7, 17, 260, 86)},
      {kIdAddFile, K::Button, L"Add file...", Rect::FromSize(273, 17, 50, 14)},
      {kIdAddFolder, K::Button, L"Add folder...", Rect::FromSize(273, 35, 50, 14)},
      {kIdClearFiles, K::Button, L"Clear", Rect::FromSize(273, 53, 50, 14)},
      {kIdNone, K::Label, L"Trackers:", Rect::FromSize(7, 109, 100, 8)},
      {kIdNone, K::Label, L"DHT nodes:", Rect::FromSize(213, 109, 100, 8)},
      {kIdTrackerList, K::List, L"", Rect::FromSize(7, 119, 200, 62)},
      {kIdNodeList, K::List, L"", Rect::FromSize(213, 119, 110, 62)},
      {kIdNone, K::Label, L"Double-click: add or edit a row (empty removes it). Right-click a tracker: tier or delete.",
       Rect::FromSize(7, 184, 316, 8)},
      {kIdNone, K::Label, L"Comment:", Rect::FromSize(7, 199, 52, 8)},
      {kIdComment, K::Edit, L"", Rect::FromSize(62, 197, 261, 12)},
      {kIdNone, K::Label, L"Torrent file:", Rect::FromSize(7, 215, 52, 8)},
      {kIdOutputFile, K::Edit, L"", Rect::FromSize(62, 213, 233, 12)},
      {kIdChooseOutput, K::Button, L"...", Rect::FromSize(299, 213, 24, 12)},
      {kIdNone, K::Label, L"Piece size:", Rect::FromSize(7, 231, 52, 8)},
      {kIdPieceSize, K::Value, L"auto", Rect::FromSize(62, 231, 50, 8)},
      {kIdPieceUp, K::Button, L"+", Rect::FromSize(115, 229, 24, 12)},
      {kIdPieceDown, K::Button, L"-", Rect::FromSize(142, 229, 24, 12)},
      {kIdProgress, K::Progress, L"", Rect::FromSize(7, 245, 316, 10)},
      {kIdNone, K::Label, L"Info hash:", Rect::FromSize(7, 259, 52, 8)},
      {kIdInfoHash, K::Value, L"", Rect::FromSize(62, 259, 261, 8)},
      {kIdMake, K::Button, L"Make torrent", Rect::FromSize(7, 269, 70, 14)},
      {kIdOk, K::DefaultButton, L"OK", Rect::FromSize(199, 269, 60, 14)},
      {kIdCancel, K::Button, L"Cancel", Rect::FromSize(263, 269, 60, 14)},
  };
  return controls;
}

const std::vector<ListColumn>& FileListColumns() {
  static const std::vector<ListColumn> columns = {{L"File"}, {L"Size", true}};
  return columns;
}

const std::vector<ListColumn>& TrackerListColumns() {
  static const std::vector<ListColumn> columns = {{L"URL"}, {L"Tier"}};
  return columns;
}

const std::vector<ListColumn>& NodeListColumns() {
  static const std::vector<ListColumn> columns = {{L"Ip address : Port"}};
  return columns;
}

std::wstring WithTorrentExtension(std::wstring name) {
  constexpr std::wstring_view extension = L".torrent";
  if (!name.ends_with(extension)) name += extension;
  return name;
}

MakeTorrentModel::MakeTorrentModel()
    : file_columns(FileListColumns().size(), kDefaultColumnWidth),
      tracker_columns(TrackerListColumns().size(), kDefaultColumnWidth),
      node_columns(NodeListColumns().size(), kDefaultColumnWidth) {}

std::wstring MakeTorrentModel::FilePathText(int row) const {
  if (row < 0 || row >= static_cast<int>(m_layout.paths.size())) return {};
  return PathText(m_layout.paths[static_cast<std::size_t>(row)]);
}

std::wstring MakeTorrentModel::FileSizeText(int row) const {
  if (row < 0 || row >= FileRowCount()) return {};
  return std::to_wstring(m_files[static_cast<std::size_t>(row)].size);
}

std::wstring MakeTorrentModel::FileCountText() const {
  if (m_files.empty()) return L"no file";
  if (m_files.size() == 1) return L"1 file";
  return std::to_wstring(m_files.size()) + L" files";
}

int MakeTorrentModel::FindFile(const fs::path& file) const {
  for (std::size_t i = 0; i < m_files.size(); ++i)
    if (m_files[i].file == file) return static_cast<int>(i);
  return -1;
}

MakeTorrentModel::AddResult MakeTorrentModel::AddFile(const fs::path& file) {
  const fs::path clean = CleanPath(file);
  if (const int row = FindFile(clean); row >= 0) return {AddOutcome::AlreadyInList, row};
  std::error_code ec;
  const auto size = fs::file_size(clean, ec);
  if (ec) return {AddOutcome::Unreadable, -1};
  m_files.push_back({clean, clean.parent_path(), static_cast<std::int64_t>(size)});
  m_layout = LayOutFiles(m_files);
  return {AddOutcome::Added, FileRowCount() - 1};
}

int MakeTorrentModel::AddFolder(const fs::path& folder) {
  last_folder = CleanPath(folder);
  int added = 0;
  for (auto& found : FindFilesRecursively(last_folder)) {
    if (FindFile(found.file) >= 0) continue;
    m_files.push_back(std::move(found));
    ++added;
  }
  m_layout = LayOutFiles(m_files);
  return added;
}

bool MakeTorrentModel::RemoveFile(int row) {
  if (row < 0 || row >= FileRowCount()) return false;
  m_files.erase(m_files.begin() + row);
  m_layout = LayOutFiles(m_files);
  return true;
}

void MakeTorrentModel::ClearFiles() {
  m_files.clear();
  m_layout = {};
}

int MakeTorrentModel::TrackerRowToEdit(int row) {
  return RowToEdit(m_trackers, row, MakeTorrentTrackerRow{L"http://", L"0"});
}

int MakeTorrentModel::NodeRowToEdit(int row) { return RowToEdit(m_nodes, row, std::wstring(L"1.1.1.1")); }

void MakeTorrentModel::EndTrackerEdit(int row, const std::optional<std::wstring>& text) {
  EndEdit(m_trackers, row, text, [](MakeTorrentTrackerRow& r, const std::wstring& t) { r.url = t; });
}

void MakeTorrentModel::EndNodeEdit(int row, const std::optional<std::wstring>& text) {
  EndEdit(m_nodes, row, text, [](std::wstring& r, const std::wstring& t) { r = t; });
}

std::vector<MenuItem> MakeTorrentModel::TrackerMenu(int column) const {
  if (column != 1) return FileMenu();
  std::vector<MenuItem> items = {
      {kMenuTier0, "0"}, {kMenuTier1, "1"}, {kMenuTier2, "2"}, {kMenuTierUp, "+"}, {kMenuTierDown, "-"}};
  items[1].is_default = true;
  return items;
}

void MakeTorrentModel::ApplyTrackerMenu(int row, int item) {
  if (row < 0 || row >= static_cast<int>(m_trackers.size())) return;
  MakeTorrentTrackerRow& tracker = m_trackers[static_cast<std::size_t>(row)];
  const int tier = TierNumber(tracker.tier);
  switch (item) {
    case kMenuDelete: m_trackers.erase(m_trackers.begin() + row); break;
    case kMenuTier0:
    case kMenuTier1:
    case kMenuTier2: tracker.tier = std::to_wstring(item - kMenuTier0); break;
    case kMenuTierUp: tracker.tier = std::to_wstring(tier + 1); break;
    case kMenuTierDown:
      if (tier > 0) tracker.tier = std::to_wstring(tier - 1);
      break;
    default: break;
  }
}

std::vector<MenuItem> MakeTorrentModel::FileMenu() const { return {{kMenuDelete, "Delete"}}; }

void MakeTorrentModel::ApplyFileMenu(int row, int item) {
  if (item == kMenuDelete) RemoveFile(row);
}

void MakeTorrentModel::PieceExponentUp() {
  if (m_piece_exponent < kMaxPieceExponent) ++m_piece_exponent;
}

void MakeTorrentModel::PieceExponentDown() {
  if (m_piece_exponent > 0) --m_piece_exponent;
}

std::wstring MakeTorrentModel::PieceSizeText() const {
  if (m_piece_exponent == 0) return L"auto";
  return std::to_wstring(1u << m_piece_exponent);
}

void MakeTorrentModel::LoadSettings(const platform::profile& profile) {
  ReadWidths(profile, "MTF Column Width ", file_columns);
  ReadWidths(profile, "MTT Column Width ", tracker_columns);
  ReadWidths(profile, "MTN Column Width ", node_columns);

  m_trackers.clear();
  const int trackers = profile.GetProfileInt(kConfigurationSection, "Trackers", 0);
  for (int i = 0; i < trackers; ++i) {
    auto url = ReadText(profile, Numbered("Tracker URL ", unsigned(i)));
    auto tier = ReadText(profile, Numbered("Tracker TIER ", unsigned(i)));
    if (url && tier) m_trackers.push_back({std::move(*url), std::move(*tier)});
  }
  m_nodes.clear();
  const int nodes = profile.GetProfileInt(kConfigurationSection, "Nodes", 0);
  for (int i = 0; i < nodes; ++i)
    if (auto node = ReadText(profile, Numbered("Node ", unsigned(i)))) m_nodes.push_back(std::move(*node));

  const int exponent = profile.GetProfileInt(kConfigurationSection, "MTT Piece Size", 0);
  m_piece_exponent = exponent < 0 ? 0u : std::min(static_cast<unsigned>(exponent), kMaxPieceExponent);
  comment = ReadText(profile, "Torrent Comment").value_or(L"");
  output_file = ReadText(profile, "Torrent File Name").value_or(L"");
  last_folder = TextPath(ReadText(profile, "Last Folder").value_or(L""));
  if (!last_folder.empty()) last_folder = CleanPath(last_folder);
}

void MakeTorrentModel::SaveSettings(platform::profile& profile) const {
  WriteWidths(profile, "MTF Column Width ", file_columns);
  WriteWidths(profile, "MTT Column Width ", tracker_columns);
  WriteWidths(profile, "MTN Column Width ", node_columns);

  profile.WriteProfileInt(kConfigurationSection, "Trackers", static_cast<int>(m_trackers.size()));
  for (unsigned i = 0; i < m_trackers.size(); ++i) {
    profile.WriteProfileString(kConfigurationSection, Numbered("Tracker URL ", i), WideToUtf8(m_trackers[i].url));
    profile.WriteProfileString(kConfigurationSection, Numbered("Tracker TIER ", i), WideToUtf8(m_trackers[i].tier));
  }
  profile.WriteProfileInt(kConfigurationSection, "Nodes", static_cast<int>(m_nodes.size()));
  for (unsigned i = 0; i < m_nodes.size(); ++i)
    profile.WriteProfileString(kConfigurationSection, Numbered("Node ", i), WideToUtf8(m_nodes[i]));

  profile.WriteProfileInt(kConfigurationSection, "MTT Piece Size", static_cast<int>(m_piece_exponent));
  profile.WriteProfileString(kConfigurationSection, "Torrent Comment", WideToUtf8(comment));
  profile.WriteProfileString(kConfigurationSection, "Torrent File Name", WideToUtf8(output_file));
  profile.WriteProfileString(kConfigurationSection, "Last Folder", WithTrailingSeparator(last_folder.native()));
}

int MakeTorrentModel::AddFileCommand(UiServices& ui, const std::function<void(int row)>& show_row) {
  const auto chosen = ui.ChooseFilesToOpen("Add file", {{"All Files (*.*)", "*"}}, false);
  if (chosen.empty()) return -1;
  const AddResult added = AddFile(chosen.front());
  if (show_row) show_row(added.row);
  if (added.outcome == AddOutcome::AlreadyInList)
    ui.MessageBox("File already in list.", "Quillfern", MessageKind::Info);
  return added.row;
}

bool MakeTorrentModel::AddFolderCommand(UiServices& ui) {
  const auto chosen = ui.ChooseFolder("Select folder", last_folder.native());
  if (!chosen) return false;
  AddFolder(*chosen);
  return true;
}

bool MakeTorrentModel::ChooseOutputCommand(UiServices& ui) {
  const auto chosen =
      ui.ChooseFileToSave("Torrent file", WideToUtf8(output_file), {{"Torrent Files (*.torrent)", "*.torrent"}});
  if (!chosen) return false;
  output_file = WithTorrentExtension(Utf8ToWide(*chosen));
  return true;
}

MakeTorrentJob MakeTorrentModel::Job() const {
  MakeTorrentJob job;
  job.files = m_files;
  job.trackers = m_trackers;
  job.nodes = m_nodes;
  job.piece_exponent = m_piece_exponent;
  job.comment = comment;
  job.output_file = output_file;
  job.creator = "Quillfern " + WideToUtf8(CVersionsInfo().GetVersionText());
  return job;
}

}  // namespace client
