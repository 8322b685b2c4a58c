#pragma once
// Where a new torrent's files go: the automatic choice by the auto-save
// settings ("ASDMode": 0 one folder, 1 the folder of the first keyword the
// torrent's name holds, 2 always ask), and the model of the dialog that
// asks the user: the folder, the space it needs against the space there is,
// and the priority the torrent starts with.

#include "client/common/ui_services.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// One line of "Destinations.txt": torrents whose name holds one of the
// comma-separated keywords go to the folder.
struct DestinationEntry {
  std::wstring keywords;
  std::string folder;  // UTF-8
  bool operator==(const DestinationEntry&) const = default;
};

inline constexpr std::uint32_t kAsdSingle = 0;    // "Always here"
inline constexpr std::uint32_t kAsdMatch = 1;     // "Match file name"
inline constexpr std::uint32_t kAsdAlwaysAsk = 2; // "No, always ask"

struct AutoSaveSettings {
  std::uint32_t mode = kAsdAlwaysAsk;        // "ASDMode"
  std::string single;                        // "ASDSingle"
  std::vector<DestinationEntry> destinations;  // mode 1
};

// A folder setting that names a bare drive ("A:\", "C:/", "C:"), as
// defaults and profiles from Windows do: the user's home folder.
std::string DriveRootToHome(std::string folder);

// What a folder offers: the bytes free to us, and whether we may create
// files in it. None when the folder cannot be asked (missing, no folder).
struct FolderSpace {
  std::uint64_t available = 0;
  bool writable = false;
};
using FolderSpaceQuery = std::function<std::optional<FolderSpace>(const std::string& folder)>;
std::optional<FolderSpace> QueryFolderSpace(const std::string& folder);

// The folder of the entry nearest the end of the list that has a keyword
// occurring in the part of `name` after its last separator; compared in
// lower case, empty keywords match nothing.
std::optional<std::string> MatchDestination(std::wstring_view name, const std::vector<DestinationEntry>& entries);

// The automatic choice. `folder` is the candidate the settings name (none
// for mode 2 or no matching keyword; a bare drive is the home folder); `accepted` when it is writable and
// has strictly more than `required` bytes free; `log_line` when it has too
// few.
struct AutoSaveChoice {
  std::optional<std::string> folder;
  bool accepted = false;
  std::optional<std::wstring> log_line;
};
AutoSaveChoice ChooseAutoSaveFolder(const AutoSaveSettings& settings, std::wstring_view name, std::uint64_t required,
                                    const FolderSpaceQuery& query);

// The status text of the folder dialog and whether OK is allowed: the
// folder must be writable and have at least `required` bytes free.
struct SpaceStatus {
  std::wstring text;
  bool ok = false;
};
SpaceStatus FolderSpaceStatus(const std::optional<FolderSpace>& space, std::uint64_t required);

// Priorities: 0 low, 1 normal, 2 high.
struct SaveFolderRequest {
  std::wstring title;        // the torrent's name
  std::string start_folder;  // the current destination
  std::uint64_t required = 0;
  int priority = 1;
};
struct SaveFolderChoice {
  std::string folder;  // with a trailing separator
  int priority = 1;
};

// Control ids of the dialog (OK and Cancel are 1 and 2).
inline constexpr int kIdSaveFolderOk = 1;
inline constexpr int kIdSaveFolderCancel = 2;
inline constexpr int kIdSaveFolderName = 1101;
inline constexpr int kIdSaveFolderText = 1102;
inline constexpr int kIdSaveFolderChoose = 1103;
inline constexpr int kIdSaveFolderStatus = 1104;
inline constexpr int kIdHighPriority = 10000;
inline constexpr int kIdNormalPriority = 10001;
inline constexpr int kIdLowPriority = 10002;

inline constexpr std::wstring_view kSaveFolderCaption = L"Select destination folder";
inline constexpr std::wstring_view kHighPriorityText = L"High Priority";
inline constexpr std::wstring_view kNormalPriorityText = L"Normal Priority";
inline constexpr std::wstring_view kLowPriorityText = L"Low Priority";

class SaveFolderModel {
 public:
  explicit SaveFolderModel(SaveFolderRequest request, FolderSpaceQuery query = QueryFolderSpace);

  const std::wstring& Title() const { return m_request.title; }
  // The folder as shown (without a trailing separator, but for "/").
  const std::string& Folder() const { return m_folder; }
  // The user typed or chose a folder: its space is asked afresh.
  void SetFolder(std::string folder);
  // ">>": the desktop's folder chooser, starting at the folder shown.
  bool ChooseFolder(UiServices& ui);

  const std::wstring& StatusText() const { return m_status.text; }
  bool OkEnabled() const { return m_status.ok; }

  int priority = 1;
  // The priority's radio button, and back.
  int PriorityButtonId() const;
  void SetPriorityByButton(int id);
  // The priority the buttons left when the dialog closed: high when "High
  // Priority" was checked, else normal unless "Low Priority" was.
  static int PriorityFromChecks(bool high, bool low) { return high ? 2 : !low ? 1 : 0; }

  SaveFolderChoice Choice() const;

 private:
  SaveFolderRequest m_request;
  FolderSpaceQuery m_query;
  std::string m_folder;
  SpaceStatus m_status;
};

}  // namespace client
