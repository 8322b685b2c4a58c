#pragma once
// The options dialog without a toolkit: the values its controls show, how
// they come from and go to the profile section "Configuration" (with the
// unit conversions and the order of the writes), the checks made when the
// dialog is confirmed, which controls are enabled, the texts shown, the
// auto-save destination list "Destinations.txt" and the export of the
// settings to a file.

#include "client/common/ui_services.h"
#include "client/dialogs/setting_limits.h"

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

// Control ids of the options dialog.
namespace options_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kUploadLimit = 1001;       // KB/s, 0 = unlimited
inline constexpr int kDownloadLimit = 1002;     // KB/s, 0 = unlimited
inline constexpr int kMinPort = 1003;
inline constexpr int kMaxPort = 1004;
inline constexpr int kSeedingTime = 1005;       // seconds
inline constexpr int kActiveTorrents = 1006;
inline constexpr int kSeedingRatio = 1007;
inline constexpr int kPeerLimit = 1008;
inline constexpr int kDhtPort = 1009;
inline constexpr int kUploadsPerTorrent = 1010;
inline constexpr int kPeerRatio = 1011;
inline constexpr int kDatabaseUrl = 1012;
inline constexpr int kDatabasePort = 1013;
inline constexpr int kRemoveUnderscores = 1015;
inline constexpr int kPortForwarding = 1016;
inline constexpr int kUseDatabase = 1017;
inline constexpr int kLocalAddress = 1040;
inline constexpr int kExport = 1042;
inline constexpr int kAsdAsk = 1046;            // "No, always ask"
inline constexpr int kAsdAlways = 1047;         // "Always here"
inline constexpr int kAsdMatch = 1048;          // "Match file name"
inline constexpr int kAsdFolder = 1049;
inline constexpr int kAsdBrowse = 1050;
inline constexpr int kDestinationList = 1051;
inline constexpr int kAsdGroup = 1052;
inline constexpr int kColorScheme = 1053;
inline constexpr int kColorSchemeBrowse = 1054;
inline constexpr int kSeedByTime = 1063;
inline constexpr int kSeedByRatio = 1064;
}  // namespace options_id

inline constexpr std::wstring_view kOptionsTitle = L"Options - Quillfern";
inline constexpr std::string_view kDestinationsFileName = "Destinations.txt";


// Column widths of the destination list: 130 by default, never below 30.
inline constexpr int kDestinationColumnWidth = 130;
inline constexpr int kMinDestinationColumnWidth = 30;

// The values as the controls show them (limits in KB/s, seeding time in
// seconds). The defaults are those the main window runs with while the
// profile lacks the setting.
struct OptionsValues {
  int upload_kb = 10;    // "MaxUploadRate" 10240 bytes/s
  int download_kb = 0;   // "MaxDownloadRate" -1 (unlimited)
  int min_port = 1500;
  int max_port = 1504;
  int dht_port = 1500;
  bool port_forwarding = false;
  int ip_address_index = 0;
  bool use_database = false;
  std::wstring database_url = L"localhost";
  int database_port = 3306;
  int max_active = 4;
  int uploads_per_torrent = 4;
  int max_connections = 100;
  std::wstring peer_ratio = L"0";
  int seeding_mode = 0;          // 0 time, 1 ratio
  int seeding_seconds = 7200;    // "SeedingTime" 7200000 ms
  std::wstring seeding_ratio = L"2";
  bool remove_underscores = false;
  std::wstring color_scheme;
  int asd_mode = 2;              // 0 always here, 1 match file name, 2 always ask
  std::wstring asd_single;

  bool operator==(const OptionsValues&) const = default;
};

// One row of the destination list: torrents whose name holds one of the
// comma-separated keywords are saved to the folder.
struct DestinationRow {
  std::wstring keywords;
  std::wstring folder;
  bool operator==(const DestinationRow&) const = default;
};

// Conversions between the settings and what the dialog shows.
// Bytes/s to KB/s: unlimited (any value at or below 0) shows 0, and a
// positive limit shows at least 1 so it never turns into unlimited.
int RateToKb(int bytes_per_second);
// KB/s to bytes/s: 0 and below are unlimited (-1).
int KbToRate(int kb);
// Seeding time: milliseconds (unsigned 32-bit) to seconds and back.
int SeedingMsToSeconds(int stored);
int SecondsToSeedingMs(int seconds);
// A folder as it is saved: with a trailing separator ('/' unless it ends in
// '\\' or '/'), leading blanks removed; an empty folder stays empty.
std::wstring FolderForSaving(std::wstring_view folder);

// "Destinations.txt": UTF-16LE with byte-order mark, one line per entry,
// keywords "=" folder. Reading skips lines without '=' or starting with it,
// removes leading blanks and the line end from the folder and gives a folder
// of two or more characters a trailing separator. The rows come in the
// file's order.
std::vector<DestinationRow> ReadDestinationsFile(const std::filesystem::path& file);
// Replaces the file (atomically) with the rows in this order, each as
// keywords "=" FolderForSaving(folder) CR LF. False when it could not be
// written.
bool WriteDestinationsFile(const std::filesystem::path& file, const std::vector<DestinationRow>& rows);

// A value that stops the dialog from closing: the control to go back to and
// the message to show.
struct InputProblem {
  int id = 0;
  std::wstring message;
  bool operator==(const InputProblem&) const = default;
};

// What a double click on the destination list does.
enum class ListDoubleClick { Nothing, EditRow, AppendRow };

// The tool tip of a control; empty for controls without one.
std::wstring OptionsToolTip(int id);

// A ratio's text as it is kept: `typed` when it reads whole as a finite
// "%lf" number with a '.'; else `typed` with the locale's decimal
// separator `decimal_point` (UTF-8), or else a comma, made a '.' when that
// reads; else none.
std::optional<std::wstring> RatioTextForSaving(std::wstring_view typed, std::string_view decimal_point);

// What the dialog is given by its owner.
struct OptionsEnvironment {
  bool upnp_supported = false;     // the port forwarding may be switched on
  bool database_available = false; // the database client library can be loaded
  std::vector<std::string> local_addresses;  // the drop list's entries
  std::filesystem::path destinations_file;   // data folder + "Destinations.txt"
};

class OptionsModel {
 public:
  explicit OptionsModel(OptionsEnvironment environment);

  const OptionsEnvironment& Environment() const { return m_env; }

  // The values the dialog holds: as loaded, then as taken from the
  // controls when the dialog is confirmed.
  OptionsValues values;
  // The destination list as shown: the file's lines in reverse order.
  std::vector<DestinationRow> destinations;
  int column_widths[2] = {kDestinationColumnWidth, kDestinationColumnWidth};

  // Reads every setting with its default, then the destination list.
  // Without the database library "Use Database" shows off.
  void LoadSettings(const platform::profile& profile);
  // Writes every setting in the dialog's order, the destination list and
  // the column widths; false when the destination list could not be
  // written (the settings are written all the same).
  bool SaveSettings(platform::profile& profile) const;
  void LoadDestinations();
  bool SaveDestinations() const;

  // --- The controls -----------------------------------------------------
  // The edits in the order they are taken, and the text each shows.
  static const std::vector<int>& EditIds();
  std::wstring EditText(int id) const;
  // Check boxes and radio buttons: whether each shows checked.
  static const std::vector<int>& CheckIds();
  bool IsChecked(int id) const;
  // The drop list entry to show selected: IpAddressIndex, or the first
  // entry (the one the program falls back to) when that is past the list;
  // -1 for an empty list.
  int AddressSelection() const;

  // Whether a control is enabled while the check boxes and radio buttons
  // show `checked`.
  bool IsEnabled(int id, const std::function<bool(int id)>& checked) const;

  // The dialog is confirmed: the values are taken from the controls (edit
  // texts by id, check states by id, the drop list's selection, -1 for
  // none) with their checks. The first problem found stops the taking and
  // is returned; the dialog then stays open and nothing is written.
  // The two ratios are kept as texts that read as "%lf" with a '.', as the
  // program reads them whatever the locale: a ratio typed with the locale's
  // decimal separator ("1,5" in German) is kept with a '.' ("1.5"), and a
  // changed ratio that reads as no number is refused.
  struct Controls {
    std::function<std::wstring(int id)> text;
    std::function<bool(int id)> checked;
    int address_selection = -1;
  };
  std::optional<InputProblem> Take(const Controls& controls);

  // --- Destination list -------------------------------------------------
  // A double click at `row` (-1: none hit) and `x` (in the rows' window);
  // `second_column_left` is where the "Directory" column starts.
  static ListDoubleClick DoubleClickAction(int row, int x, int second_column_left);
  // Appends a row with no keywords and the user's home folder; its index.
  int AppendDestination();
  // A right click on the folder column (1) of a row: the folder chooser
  // "Select auto save path" from that row's folder; true when the row took
  // a new folder.
  bool ChooseDestinationFolder(UiServices& ui, int row, int column);

  // The ">>" buttons (kAsdBrowse, kColorSchemeBrowse): the folder chooser
  // from `current` (the edit's text); the folder to show, with a trailing
  // separator, none when cancelled.
  static std::optional<std::wstring> ChooseFolderFor(int button, UiServices& ui, std::wstring_view current);

  // OK, after Take: SaveSettings; a destination list that could not be
  // written is told through `ui`.
  bool SaveCommand(UiServices& ui, platform::profile& profile) const;

  // "Save to File": the values held (not the controls' texts) are saved as
  // by OK, then the file is asked for and the profile's section
  // "Configuration" is written to it as a profile of its own.
  // True when the file was written; a failure is told through `ui`.
  bool ExportCommand(UiServices& ui, platform::profile& profile) const;

 private:
  OptionsEnvironment m_env;
};

}  // namespace client
