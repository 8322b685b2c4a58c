#pragma once
// What the colour-scheme editor does, without its window: the scheme folder,
// the status whose chart entry is edited, moving values between the two
// records and the texts of the 75 byte edits, their validation, the status
// switch, saving both scheme files and quitting.

#include "client/common/color_scheme.h"
#include "platform/profile.h"
#include "scheme_editor/scheme_fields.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tintwright {

// The texts of the byte edits, indexed like kSchemeFields.
using EditTexts = std::array<std::string, kFieldCount>;

inline constexpr std::wstring_view kByteRangeMessage = L"Please enter an integer between 0 and 255.";
inline constexpr std::wstring_view kFailedToCreate = L"Failed to Create ";
inline constexpr std::wstring_view kDialogTitle = L"Quillfern Color Scheme Editor";
inline constexpr std::wstring_view kBrowseTitle = L"Select color scheme folder";

// The "Torrent Status" radio buttons: control id, the status (chart entry)
// it selects and its text.
struct StatusRadio {
  int id;
  int status;
  std::wstring_view text;
};
inline constexpr std::array<StatusRadio, client::kStatusCount> kStatusRadios = {{
    {1045, client::kPausedColors, L"Paused"},
    {1003, client::kQueuedColors, L"Queued"},
    {1006, client::kDownloadingColors, L"Downloading"},
    {1007, client::kSeedingColors, L"Seeding"},
    {1009, client::kErrorColors, L"Error"},
}};
std::optional<int> StatusOfRadio(int id);
int RadioOfStatus(int status);

// A whole number 0..255, blanks around it allowed; none for anything else.
std::optional<std::uint8_t> ParseByte(std::string_view text);

// The id of the first edit whose text is no byte; none when all are.
std::optional<int> FirstInvalidId(const EditTexts& texts);

// The main program's scheme folder, where the editor starts when it has no
// folder of its own (by default ~/.local/share/Quillfern/Schemes/).
using client::DefaultSchemeFolder;

// What an action asks of the dialog.
struct Outcome {
  bool done = true;       // false: refused (a bad value) or failed
  int focus_id = 0;       // the edit the focus returns to, 0 for none
  std::wstring message;   // a message box to show, empty for none
};

class SchemeEditor {
 public:
  enum class Repaint { Nothing, Chart, FrameAndChart };

  // `table` is the one the chart preview paints with. The folder starts as
  // the profile's "ColorSchemePath", or the default scheme folder when that
  // is empty.
  SchemeEditor(platform::profile profile, client::DiagramColorTable& table);

  const platform::profile& Profile() const { return m_profile; }
  const std::string& Folder() const { return m_folder; }
  void SetFolder(std::string folder) { m_folder = std::move(folder); }
  int Status() const { return m_status; }
  const client::MainColorBlock& Main() const { return m_main; }
  const client::DiagramColorTable& Table() const { return m_table; }

  // Loads both records from the folder (its file, else the profile's copy)
  // and starts at status Queued. A record that cannot be loaded whole
  // becomes the defaults, never a mix with what was shown before.
  void LoadSchemes();

  // The edit texts for the entry of `status` and the main block; the
  // block's frame colour becomes the colour of its offsets.
  EditTexts ShowSchemeEntry(int status);
  // Writes every edit back into the entry of `status` and the main block,
  // or nothing at all when an edit holds no byte (its id is returned).
  std::optional<int> StoreSchemeEntry(int status, const EditTexts& texts);

  // One edit changed while the user types: its value is stored when it is
  // a byte, silently ignored otherwise. Which previews need repainting.
  Repaint EditChanged(int id, std::string_view text);

  // The user picks another status: the current entry is stored first, then
  // `texts` shows the new one. Refused (nothing changes) on a bad value.
  Outcome SelectStatus(int status, EditTexts& texts);

  // Stores the entry and writes both scheme files into `folder_text` (a
  // separator added when it has none at its end; the folder is created).
  Outcome Save(const EditTexts& texts, std::string_view folder_text);

  // Checks the values and keeps the folder as "ColorSchemePath" (with its
  // trailing separator) when it is not empty. The schemes are not saved.
  Outcome Quit(const EditTexts& texts, std::string_view folder_text);

 private:
  // The main block's frame colour and every entry's copy of it follow the
  // block's offsets.
  void UpdateMainFrameColor();
  static Outcome Refused(int id);

  platform::profile m_profile;
  client::DiagramColorTable& m_table;
  client::MainColorBlock m_main = client::MainColorBlock::Defaults();
  std::string m_folder;
  int m_status = client::kQueuedColors;
};

}  // namespace tintwright
