#pragma once
// The make-torrent dialog without a toolkit: its controls and their place
// in dialog units, the file, tracker and node lists and what each click on
// them does, the piece-size choice, the texts shown, the settings kept in
// the application profile, and the job handed to the worker.

#include "client/common/geometry.h"
#include "client/common/ui_services.h"
#include "client/dialogs/make_torrent_files.h"
#include "client/dialogs/make_torrent_job.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class profile;
}

namespace client {

// Control ids.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdTrackerList = 1011;
inline constexpr int kIdFileList = 1012;
inline constexpr int kIdAddFile = 1019;
inline constexpr int kIdAddFolder = 1023;
inline constexpr int kIdClearFiles = 1024;
inline constexpr int kIdComment = 1025;
inline constexpr int kIdProgress = 1026;
inline constexpr int kIdMake = 1027;
inline constexpr int kIdOutputFile = 1029;
inline constexpr int kIdChooseOutput = 1030;
inline constexpr int kIdInfoHash = 1039;
inline constexpr int kIdFileCount = 1041;
inline constexpr int kIdPieceUp = 1043;
inline constexpr int kIdPieceDown = 1044;
inline constexpr int kIdPieceSize = 1045;
inline constexpr int kIdNodeList = 1064;
// Labels that nothing refers to.
inline constexpr int kIdNone = -1;

enum class DialogControlKind { Label, Value, Edit, Button, DefaultButton, List, Progress };

// One control of the dialog; `place` is in dialog units.
struct DialogControl {
  int id = kIdNone;
  DialogControlKind kind = DialogControlKind::Label;
  std::wstring text;
  Rect place;
  bool right_aligned = false;
};

inline constexpr std::wstring_view kMakeTorrentTitle = L"Make Torrent";
// The dialog's client size in dialog units.
inline constexpr Size kMakeTorrentDialogSize{330, 288};
const std::vector<DialogControl>& MakeTorrentControls();

// The columns of a list: titles, right-aligned ones.
struct ListColumn {
  std::wstring title;
  bool right_aligned = false;
};
const std::vector<ListColumn>& FileListColumns();     // "File", "Size"
const std::vector<ListColumn>& TrackerListColumns();  // "URL", "Tier"
const std::vector<ListColumn>& NodeListColumns();     // "Ip address : Port"

// Column widths: 100 by default, never below 30.
inline constexpr int kDefaultColumnWidth = 100;
inline constexpr int kMinColumnWidth = 30;

// Profile texts read with this default were not there.
inline constexpr std::string_view kMissingSetting = "Brask";

// "x" becomes "x.torrent"; a name ending in ".torrent" stays.
std::wstring WithTorrentExtension(std::wstring name);

// Menu item ids of the list menus.
enum MakeTorrentMenuId : int {
  kMenuDelete = 1,
  kMenuTier0 = 10,
  kMenuTier1 = 11,
  kMenuTier2 = 12,
  kMenuTierUp = 13,
  kMenuTierDown = 14,
};

class MakeTorrentModel {
 public:
  MakeTorrentModel();

  // --- Files -------------------------------------------------------------
  const std::vector<MakeTorrentFile>& Files() const { return m_files; }
  int FileRowCount() const { return static_cast<int>(m_files.size()); }
  // The row's texts: its path in the torrent, and its size.
  std::wstring FilePathText(int row) const;
  std::wstring FileSizeText(int row) const;
  // "no file", "1 file" or "N files".
  std::wstring FileCountText() const;

  enum class AddOutcome { Added, AlreadyInList, Unreadable };
  struct AddResult {
    AddOutcome outcome;
    int row;  // the file's row; -1 when unreadable
  };
  // Adds one file with its size as it is now (a file already in the list is
  // not added again).
  AddResult AddFile(const std::filesystem::path& file);
  // Adds the files of a folder (FindFilesRecursively) that are not in the
  // list yet, and remembers the folder; the number added.
  int AddFolder(const std::filesystem::path& folder);
  bool RemoveFile(int row);
  void ClearFiles();

  // --- Trackers and nodes -------------------------------------------------
  const std::vector<MakeTorrentTrackerRow>& Trackers() const { return m_trackers; }
  const std::vector<std::wstring>& Nodes() const { return m_nodes; }
  // A double click on the list at `row` (-1: below the rows): the row whose
  // first column is to be edited. Below the rows a new row ("http://" with
  // tier "0", or the node "1.1.1.1") is appended first.
  int TrackerRowToEdit(int row);
  int NodeRowToEdit(int row);
  // An edit of the row's first column ended with `text` (none: cancelled).
  // A text is taken; an empty one removes the row.
  void EndTrackerEdit(int row, const std::optional<std::wstring>& text);
  void EndNodeEdit(int row, const std::optional<std::wstring>& text);
  // The menu of a right click on a tracker row: tiers on the "Tier" column
  // (1), "Delete" elsewhere; and what a chosen item does.
  std::vector<MenuItem> TrackerMenu(int column) const;
  void ApplyTrackerMenu(int row, int item);
  std::vector<MenuItem> FileMenu() const;
  void ApplyFileMenu(int row, int item);

  // --- Piece size ----------------------------------------------------------
  unsigned PieceExponent() const { return m_piece_exponent; }
  void PieceExponentUp();
  void PieceExponentDown();
  // The piece size in bytes, or "auto".
  std::wstring PieceSizeText() const;

  // --- Edits and the folder last browsed ------------------------------------
  std::wstring comment;
  std::wstring output_file;
  // Kept in the settings with a trailing separator.
  std::filesystem::path last_folder;

  // Column widths of the three lists, in pixels.
  std::vector<int> file_columns;
  std::vector<int> tracker_columns;
  std::vector<int> node_columns;

  // --- Settings (section "Configuration") ------------------------------------
  void LoadSettings(const platform::profile& profile);
  void SaveSettings(platform::profile& profile) const;

  // --- Commands that ask the user ----------------------------------------------
  // Add file: the file chooser, then AddFile; `show_row` is given the
  // file's row (-1 for none) to show it selected, before a file already in
  // the list is told with "File already in list.". Returns that row.
  int AddFileCommand(UiServices& ui, const std::function<void(int row)>& show_row = {});
  // Add folder: the folder chooser ("Select folder") from the last folder;
  // true when files were looked for.
  bool AddFolderCommand(UiServices& ui);
  // Choose output: the save chooser from the current name; true when a
  // name was chosen (with ".torrent" added as needed).
  bool ChooseOutputCommand(UiServices& ui);

  // What the worker is given: the lists, the piece size, the edits and the
  // "created by" text.
  MakeTorrentJob Job() const;

 private:
  int FindFile(const std::filesystem::path& file) const;

  std::vector<MakeTorrentFile> m_files;
  TorrentFileLayout m_layout;  // of m_files
  std::vector<MakeTorrentTrackerRow> m_trackers;
  std::vector<std::wstring> m_nodes;
  unsigned m_piece_exponent = 0;
};

}  // namespace client
