#include "client/dialogs/options_model.h"

#include "client/files/CUTF16File.h"
#include "client/common/color_scheme.h"
#include "client/common/paths.h"
#include "client/base/number_scan.h"
#include "client/base/wide_text.h"
#include "platform/atomic_file.h"
#include "platform/profile.h"

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdio>

namespace client {

namespace {

namespace id = options_id;
constexpr std::string_view kSection = kConfigurationSection;

// An edit holding a whole number, its value and the range it must lie in.
struct IntegerEdit {
  int id;
  int OptionsValues::*value;
  int min;
  int max;
};

const std::vector<IntegerEdit>& IntegerEdits() {
  static const std::vector<IntegerEdit> edits = {
      {id::kUploadLimit, &OptionsValues::upload_kb, -1, kMaxRateLimitKb},
      {id::kDownloadLimit, &OptionsValues::download_kb, -1, kMaxRateLimitKb},
      {id::kMinPort, &OptionsValues::min_port, 1, 65535},
      {id::kMaxPort, &OptionsValues::max_port, 1, 65535},
      {id::kDhtPort, &OptionsValues::dht_port, 0, 65535},
      {id::kDatabasePort, &OptionsValues::database_port, 1, 65535},
      {id::kActiveTorrents, &OptionsValues::max_active, 1, 1000},
      {id::kUploadsPerTorrent, &OptionsValues::uploads_per_torrent, INT_MIN, INT_MAX},
      {id::kPeerLimit, &OptionsValues::max_connections, 10, 65535},
      {id::kSeedingTime, &OptionsValues::seeding_seconds, 0, kMaxSeedingSeconds},
  };
  return edits;
}

struct TextEdit {
  int id;
  std::wstring OptionsValues::*value;
  bool ratio = false;  // kept as a "%lf" number
};

const std::vector<TextEdit>& TextEdits() {
  static const std::vector<TextEdit> edits = {
      {id::kDatabaseUrl, &OptionsValues::database_url},         {id::kPeerRatio, &OptionsValues::peer_ratio, true},
      {id::kSeedingRatio, &OptionsValues::seeding_ratio, true}, {id::kColorScheme, &OptionsValues::color_scheme},
      {id::kAsdFolder, &OptionsValues::asd_single},
  };
  return edits;
}

struct CheckBox {
  int id;
  bool OptionsValues::*value;
};

const std::vector<CheckBox>& CheckBoxes() {
  static const std::vector<CheckBox> boxes = {
      {id::kPortForwarding, &OptionsValues::port_forwarding},
      {id::kUseDatabase, &OptionsValues::use_database},
      {id::kRemoveUnderscores, &OptionsValues::remove_underscores},
  };
  return boxes;
}

// Radio buttons: the value is the index of the checked one.
struct RadioButton {
  int id;
  int OptionsValues::*value;
  int index;
};

const std::vector<RadioButton>& RadioButtons() {
  static const std::vector<RadioButton> radios = {
      {id::kSeedByTime, &OptionsValues::seeding_mode, 0}, {id::kSeedByRatio, &OptionsValues::seeding_mode, 1},
      {id::kAsdAlways, &OptionsValues::asd_mode, 0},      {id::kAsdMatch, &OptionsValues::asd_mode, 1},
      {id::kAsdAsk, &OptionsValues::asd_mode, 2},
  };
  return radios;
}

template <class Table>
auto Find(const Table& table, int control) -> const typename Table::value_type* {
  for (const auto& entry : table)
    if (entry.id == control) return &entry;
  return nullptr;
}

// A whole number as the dialog takes it: blanks around it, an optional
// sign, digits, and a value that fits 32 bits.
std::optional<int> ParseInteger(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
    negative = text.front() == L'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

std::wstring RangePrompt(int min, int max) {
  wchar_t text[96];
  std::swprintf(text, sizeof text / sizeof *text, L"Please enter an integer between %d and %d.", min, max);
  return text;
}

std::wstring Text(const platform::profile& p, std::string_view key, std::string_view fallback) {
  return Utf8ToWide(p.GetProfileString(kSection, key, fallback));
}

void WriteText(platform::profile& p, std::string_view key, std::wstring_view value) {
  p.WriteProfileString(kSection, key, WideToUtf8(value));
}

std::string WidthKey(int column) {
  char key[32];
  std::snprintf(key, sizeof key, "ASDL Column Width %02d", column);
  return key;
}

std::wstring TrimLeadingBlanks(std::wstring_view text) {
  const auto start = text.find_first_not_of(L' ');
  return start == std::wstring_view::npos ? std::wstring() : std::wstring(text.substr(start));
}

// Whether `text` is one finite number in the "%lf" form with a '.', with
// nothing but blanks around it.
bool ReadsAsRatio(std::string_view text) {
  NumberScan scan(text);
  double value = 0;
  if (!scan.Number(value)) return false;
  while (scan.Literal(' ') || scan.Literal('\t')) {
  }
  return scan.AtEnd();
}

}  // namespace

std::optional<std::wstring> RatioTextForSaving(std::wstring_view typed, std::string_view decimal_point) {
  const std::string text = WideToUtf8(typed);
  if (ReadsAsRatio(text)) return std::wstring(typed);
  // The locale's separator, or a comma whatever the locale.
  for (const std::string_view separator : {decimal_point, std::string_view(",")}) {
    if (separator.empty() || separator == ".") continue;
    std::string pointed = text;
    const auto at = pointed.find(separator);
    if (at == std::string::npos) continue;
    pointed.replace(at, separator.size(), ".");
    if (ReadsAsRatio(pointed)) return Utf8ToWide(pointed);
  }
  return std::nullopt;
}

int RateToKb(int bytes_per_second) {
  if (bytes_per_second <= 0) return 0;
  return bytes_per_second < 1024 ? 1 : bytes_per_second / 1024;
}

int KbToRate(int kb) {
  if (kb <= 0) return -1;
  return (kb > kMaxRateLimitKb ? kMaxRateLimitKb : kb) * 1024;
}

int SeedingMsToSeconds(int stored) { return static_cast<int>(static_cast<std::uint32_t>(stored) / 1000u); }

int SecondsToSeedingMs(int seconds) {
  const std::uint32_t s = seconds < 0 ? 0u
                          : seconds > kMaxSeedingSeconds ? static_cast<std::uint32_t>(kMaxSeedingSeconds)
                                                         : static_cast<std::uint32_t>(seconds);
  return static_cast<int>(s * 1000u);
}

std::wstring FolderForSaving(std::wstring_view folder) {
  std::wstring out = TrimLeadingBlanks(folder);
  if (!out.empty() && out.back() != L'\\' && out.back() != L'/') out += L'/';
  return out;
}

std::vector<DestinationRow> ReadDestinationsFile(const std::filesystem::path& file) {
  std::vector<DestinationRow> rows;
  CUTF16File in(file, CUTF16File::modeRead | CUTF16File::typeText);
  if (!in.IsOpen()) return rows;
  std::u16string line;
  while (in.ReadString(line)) {
    const auto eq = line.find(u'=');
    if (eq == std::u16string::npos || eq == 0) continue;
    std::wstring folder = TrimLeadingBlanks(Utf16ToWide(std::u16string_view(line).substr(eq + 1)));
    while (!folder.empty() && (folder.back() == L'\r' || folder.back() == L'\n')) folder.pop_back();
    if (folder.size() > 1) folder = FolderForSaving(folder);
    rows.push_back({Utf16ToWide(std::u16string_view(line).substr(0, eq)), std::move(folder)});
  }
  return rows;
}

bool WriteDestinationsFile(const std::filesystem::path& file, const std::vector<DestinationRow>& rows) {
  CUTF16File out;
  if (!out.Open(file, CUTF16File::modeCreate | CUTF16File::modeWrite | CUTF16File::typeText)) return false;
  for (const DestinationRow& row : rows)
    out.WriteString(WideToUtf16(row.keywords + L"=" + FolderForSaving(row.folder) + L"\r\n"));
  return out.Close();
}

std::wstring OptionsToolTip(int control) {
  switch (control) {
    case id::kUploadLimit: return L"Global upload limit, local torrent setting cannot override this";
    case id::kDownloadLimit: return L"Global download limit, local torrent setting cannot override this";
    case id::kMinPort: return L"Lower tcp port limit to listen for incomming connections";
    case id::kMaxPort: return L"Upper tcp port limit to listen for incomming connections";
    case id::kSeedingTime: return L"Default seeding time, 0 for unlimited";
    case id::kActiveTorrents: return L"Maximum number of active torrents";
    case id::kSeedingRatio: return L"Default seeding ratio";
    case id::kPeerLimit: return L"Global connection limit";
    case id::kDhtPort: return L"Tcp port for incomming dht requests";
    case id::kUploadsPerTorrent: return L"Maximum number of uploads per active torrent";
    case id::kPeerRatio: return L"Default peer ratio, 0 for no ratio";
    case id::kDatabaseUrl: return L"Database server url";
    case id::kDatabasePort: return L"Database server port";
    case id::kLocalAddress: return L"Local ip address for port forwarding";
    case id::kColorScheme: return L"Path to color scheme folder";
    default: return {};
  }
}

OptionsModel::OptionsModel(OptionsEnvironment environment) : m_env(std::move(environment)) {}

void OptionsModel::LoadSettings(const platform::profile& p) {
  auto integer = [&p](std::string_view key, int fallback) { return p.GetProfileInt(kSection, key, fallback); };
  OptionsValues& v = values;
  v.upload_kb = RateToKb(integer("MaxUploadRate", 10240));
  v.download_kb = RateToKb(integer("MaxDownloadRate", -1));
  v.min_port = integer("MinPort", 1500);
  v.max_port = integer("MaxPort", 1504);
  v.dht_port = integer("DHTPort", 1500);
  v.port_forwarding = integer("UPnPPortForwarding", 0) != 0;
  v.ip_address_index = integer("IpAddressIndex", 0);
  v.use_database = m_env.database_available && integer("Use Database", 0) != 0;
  v.database_url = Text(p, "Database URL", "localhost");
  v.database_port = integer("Database Port", 3306);
  v.max_active = integer("MaxActiveTorrent", 4);
  v.uploads_per_torrent = integer("MaxUploadsPerTorrent", 4);
  v.max_connections = integer("MaxConnections", 100);
  v.peer_ratio = Text(p, "PeerRatio", "0");
  v.seeding_mode = integer("SeedingMode", 0) == 1 ? 1 : 0;
  v.seeding_seconds = SeedingMsToSeconds(integer("SeedingTime", 7200000));
  v.seeding_ratio = Text(p, "SeedingRatio", "2");
  v.remove_underscores = integer("Remove_FromFileNames", 0) != 0;
  v.color_scheme = Text(p, "ColorSchemePath", "");
  const auto mode = static_cast<unsigned>(integer("ASDMode", 2));
  v.asd_mode = mode >= 3 ? 2 : static_cast<int>(mode);
  v.asd_single = Text(p, "ASDSingle", "");
  for (int c = 0; c < 2; ++c) {
    const int width = integer(WidthKey(c), kDestinationColumnWidth);
    column_widths[c] = width < kMinDestinationColumnWidth ? kMinDestinationColumnWidth : width;
  }
  LoadDestinations();
}

bool OptionsModel::SaveSettings(platform::profile& p) const {
  auto integer = [&p](std::string_view key, int value) { p.WriteProfileInt(kSection, key, value); };
  const OptionsValues& v = values;
  integer("MaxUploadRate", KbToRate(v.upload_kb));
  integer("MaxDownloadRate", KbToRate(v.download_kb));
  integer("MinPort", v.min_port);
  integer("MaxPort", v.max_port);
  integer("DHTPort", v.dht_port);
  integer("SeedingTime", SecondsToSeedingMs(v.seeding_seconds));
  WriteText(p, "SeedingRatio", v.seeding_ratio);
  integer("SeedingMode", v.seeding_mode);
  WriteText(p, "PeerRatio", v.peer_ratio);
  integer("MaxActiveTorrent", v.max_active);
  integer("MaxUploadsPerTorrent", v.uploads_per_torrent);
  integer("MaxConnections", v.max_connections);
  integer("Remove_FromFileNames", v.remove_underscores ? 1 : 0);
  integer("UPnPPortForwarding", v.port_forwarding ? 1 : 0);
  integer("IpAddressIndex", v.ip_address_index);
  WriteText(p, "ASDSingle", FolderForSaving(v.asd_single));
  integer("ASDMode", v.asd_mode);
  const bool listed = SaveDestinations();
  for (int c = 0; c < 2; ++c)
    integer(WidthKey(c), column_widths[c] < kMinDestinationColumnWidth ? kMinDestinationColumnWidth : column_widths[c]);
  // An empty folder leaves the setting as it was.
  if (!v.color_scheme.empty()) WriteText(p, "ColorSchemePath", FolderForSaving(v.color_scheme));
  WriteText(p, "Database URL", v.database_url);
  integer("Database Port", v.database_port);
  integer("Use Database", v.use_database ? 1 : 0);
  return listed;
}

void OptionsModel::LoadDestinations() {
  // The list shows the file's last line first.
  destinations = ReadDestinationsFile(m_env.destinations_file);
  std::reverse(destinations.begin(), destinations.end());
}

bool OptionsModel::SaveDestinations() const {
  return WriteDestinationsFile(m_env.destinations_file, {destinations.rbegin(), destinations.rend()});
}

const std::vector<int>& OptionsModel::EditIds() {
  static const std::vector<int> ids = [] {
    std::vector<int> all;
    for (const auto& e : IntegerEdits()) all.push_back(e.id);
    for (const auto& e : TextEdits()) all.push_back(e.id);
    return all;
  }();
  return ids;
}

std::wstring OptionsModel::EditText(int control) const {
  if (const auto* e = Find(IntegerEdits(), control)) return std::to_wstring(values.*(e->value));
  if (const auto* e = Find(TextEdits(), control)) return values.*(e->value);
  return {};
}

const std::vector<int>& OptionsModel::CheckIds() {
  static const std::vector<int> ids = [] {
    std::vector<int> all;
    for (const auto& c : CheckBoxes()) all.push_back(c.id);
    for (const auto& r : RadioButtons()) all.push_back(r.id);
    return all;
  }();
  return ids;
}

bool OptionsModel::IsChecked(int control) const {
  if (const auto* c = Find(CheckBoxes(), control)) return values.*(c->value);
  if (const auto* r = Find(RadioButtons(), control)) return values.*(r->value) == r->index;
  return false;
}

int OptionsModel::AddressSelection() const {
  const int count = static_cast<int>(m_env.local_addresses.size());
  if (count == 0) return -1;
  return values.ip_address_index >= 0 && values.ip_address_index < count ? values.ip_address_index : 0;
}

bool OptionsModel::IsEnabled(int control, const std::function<bool(int)>& checked) const {
  switch (control) {
    case id::kPortForwarding: return m_env.upnp_supported;
    case id::kLocalAddress: return m_env.upnp_supported && checked(id::kPortForwarding);
    case id::kUseDatabase: return m_env.database_available;
    case id::kDatabaseUrl:
    case id::kDatabasePort: return m_env.database_available && checked(id::kUseDatabase);
    case id::kSeedingTime: return checked(id::kSeedByTime);
    case id::kSeedingRatio: return checked(id::kSeedByRatio);
    case id::kAsdFolder:
    case id::kAsdBrowse: return checked(id::kAsdAlways);
    case id::kDestinationList: return checked(id::kAsdMatch);
    default: return true;
  }
}

std::optional<InputProblem> OptionsModel::Take(const Controls& controls) {
  OptionsValues taken = values;
  for (const IntegerEdit& e : IntegerEdits()) {
    const auto number = ParseInteger(controls.text(e.id));
    if (!number) return InputProblem{e.id, L"Please enter an integer."};
    // The highest port of the range is at least its lowest one.
    const int min = e.id == id::kMaxPort && taken.min_port > e.min ? taken.min_port : e.min;
    if (*number < min || *number > e.max) return InputProblem{e.id, RangePrompt(min, e.max)};
    taken.*(e.value) = *number;
  }
  const char* decimal_point = std::localeconv()->decimal_point;
  for (const TextEdit& e : TextEdits()) {
    std::wstring text = controls.text(e.id);
    if (e.ratio) {
      const auto kept = RatioTextForSaving(text, decimal_point ? decimal_point : ".");
      // A stored text that the user left alone stays as it is.
      if (!kept && text != values.*(e.value)) return InputProblem{e.id, L"Please enter a number."};
      if (kept) text = *kept;
    }
    taken.*(e.value) = std::move(text);
  }
  for (const CheckBox& c : CheckBoxes()) taken.*(c.value) = controls.checked(c.id);
  for (const RadioButton& r : RadioButtons())
    if (controls.checked(r.id)) taken.*(r.value) = r.index;
  if (!m_env.database_available) taken.use_database = false;
  // Without an entry chosen (no address at all) the stored choice stays.
  if (controls.address_selection >= 0) taken.ip_address_index = controls.address_selection;
  values = std::move(taken);
  return std::nullopt;
}

ListDoubleClick OptionsModel::DoubleClickAction(int row, int x, int second_column_left) {
  if (row >= 0) return ListDoubleClick::EditRow;
  return x < second_column_left ? ListDoubleClick::AppendRow : ListDoubleClick::Nothing;
}

int OptionsModel::AppendDestination() {
  destinations.push_back({L"", Utf8ToWide(HomeFolder())});
  return static_cast<int>(destinations.size()) - 1;
}

bool OptionsModel::ChooseDestinationFolder(UiServices& ui, int row, int column) {
  if (column != 1 || row < 0 || row >= static_cast<int>(destinations.size())) return false;
  DestinationRow& entry = destinations[static_cast<std::size_t>(row)];
  const auto chosen = ui.ChooseFolder("Select auto save path", WideToUtf8(entry.folder));
  if (!chosen) return false;
  entry.folder = FolderForSaving(Utf8ToWide(*chosen));
  return true;
}

std::optional<std::wstring> OptionsModel::ChooseFolderFor(int button, UiServices& ui, std::wstring_view current) {
  const char* title = button == id::kAsdBrowse ? "Select destination folder" : "Select color scheme folder";
  const std::string start = current.empty() ? HomeFolder() : WideToUtf8(current);
  const auto chosen = ui.ChooseFolder(title, start);
  if (!chosen) return std::nullopt;
  return FolderForSaving(Utf8ToWide(*chosen));
}

namespace {
void TellNotWritten(UiServices& ui, const std::string& file) {
  ui.MessageBox("Could not write " + file + ".", "Quillfern", MessageKind::Error);
}
}  // namespace

bool OptionsModel::SaveCommand(UiServices& ui, platform::profile& profile) const {
  if (SaveSettings(profile)) return true;
  TellNotWritten(ui, m_env.destinations_file.string());
  return false;
}

bool OptionsModel::ExportCommand(UiServices& ui, platform::profile& profile) const {
  // The settings are saved first, whether a file is chosen or not.
  SaveCommand(ui, profile);
  const auto file = ui.ChooseFileToSave("Save to File", "Quillfern.ini", {{"Settings Files (*.ini)", "*.ini"}});
  if (!file) return false;
  std::string text = profile.SectionText(kSection);
  if (text.empty()) text = "[" + std::string(kSection) + "]\n";
  // The section holds the database password: the copy is the user's alone.
  if (platform::write_file_atomically(*file, text, 0600)) return true;
  TellNotWritten(ui, *file);
  return false;
}

}  // namespace client
