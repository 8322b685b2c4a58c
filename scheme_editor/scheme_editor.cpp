#include "scheme_editor/scheme_editor.h"

#include "client/common/frame_model.h"
#include "client/common/paths.h"

#include <filesystem>
#include <system_error>

namespace tintwright {
namespace {

using client::kColorSchemePathValue;
using client::kConfigurationSection;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Folder names are UTF-8; message texts are wide. Bytes that are no UTF-8
// come out as U+FFFD.
std::wstring WideFromUtf8(std::string_view s) {
  std::wstring out;
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    char32_t code = lead;
    if ((lead & 0xE0) == 0xC0) extra = 1, code = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0) extra = 2, code = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0) extra = 3, code = lead & 0x07;
    bool ok = lead < 0x80 || (extra > 0 && i + extra < s.size());
    for (std::size_t k = 1; ok && k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(s[i + k]);
      ok = (c & 0xC0) == 0x80;
      code = code << 6 | (c & 0x3F);
    }
    out += ok ? static_cast<wchar_t>(code) : L'\uFFFD';
    i += ok ? extra + 1 : 1;
  }
  return out;
}

bool CreateFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

}  // namespace

std::optional<int> StatusOfRadio(int id) {
  for (const auto& radio : kStatusRadios)
    if (radio.id == id) return radio.status;
  return std::nullopt;
}

int RadioOfStatus(int status) { return kStatusRadios[client::DiagramColorTable::ClampStatus(status)].id; }

std::optional<std::uint8_t> ParseByte(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + unsigned(c - '0');
  }
  if (value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

std::optional<int> FirstInvalidId(const EditTexts& texts) {
  for (std::size_t i = 0; i < kFieldCount; ++i)
    if (!ParseByte(texts[i])) return kSchemeFields[i].id;
  return std::nullopt;
}

SchemeEditor::SchemeEditor(platform::profile profile, client::DiagramColorTable& table)
    : m_profile(std::move(profile)),
      m_table(table),
      m_folder(client::SchemeFolder(m_profile.GetProfileString(kConfigurationSection, kColorSchemePathValue))) {}

void SchemeEditor::LoadSchemes() {
  if (!client::LoadMainColors(m_folder, m_profile, m_main)) m_main = client::MainColorBlock::Defaults();
  if (!client::LoadDiagramColors(m_folder, m_profile, m_table))
    m_table = client::DiagramColorTable::Defaults(m_main.frame.OffsetColor());
  m_status = client::kQueuedColors;
}

EditTexts SchemeEditor::ShowSchemeEntry(int status) {
  m_main.frame_color = m_main.frame.OffsetColor();
  const client::DiagramColorEntry& entry = m_table[status];
  EditTexts texts;
  for (std::size_t i = 0; i < kFieldCount; ++i) texts[i] = std::to_string(ReadField(kSchemeFields[i], entry, m_main));
  return texts;
}

std::optional<int> SchemeEditor::StoreSchemeEntry(int status, const EditTexts& texts) {
  if (auto bad = FirstInvalidId(texts)) return bad;
  client::DiagramColorEntry& entry = m_table[status];
  for (std::size_t i = 0; i < kFieldCount; ++i) WriteField(kSchemeFields[i], entry, m_main, *ParseByte(texts[i]));
  UpdateMainFrameColor();
  return std::nullopt;
}

SchemeEditor::Repaint SchemeEditor::EditChanged(int id, std::string_view text) {
  const auto index = FieldIndexOfId(id);
  const auto value = ParseByte(text);
  if (!index || !value) return Repaint::Nothing;
  const SchemeField& field = kSchemeFields[*index];
  WriteField(field, m_table[m_status], m_main, *value);
  UpdateMainFrameColor();
  return IsMainMember(field.member) ? Repaint::FrameAndChart : Repaint::Chart;
}

Outcome SchemeEditor::SelectStatus(int status, EditTexts& texts) {
  if (auto bad = StoreSchemeEntry(m_status, texts)) return Refused(*bad);
  m_status = client::DiagramColorTable::ClampStatus(status);
  texts = ShowSchemeEntry(m_status);
  return {};
}

Outcome SchemeEditor::Save(const EditTexts& texts, std::string_view folder_text) {
  if (auto bad = StoreSchemeEntry(m_status, texts)) return Refused(*bad);
  m_folder = client::WithTrailingSeparator(folder_text);
  if (!CreateFolder(m_folder)) return {false, 0, std::wstring(kFailedToCreate) + WideFromUtf8(m_folder)};
  // The profile copies are written first, then the files; a file that
  // cannot be written is reported rather than passed over.
  const bool diagram = client::SaveDiagramColors(m_folder, m_profile, m_table);
  const bool main = client::SaveMainColors(m_folder, m_profile, m_main);
  if (!diagram || !main) {
    const std::string_view file = !diagram ? client::kDiagramColorsFile : client::kMainColorsFile;
    return {false, 0, std::wstring(kFailedToCreate) + WideFromUtf8(m_folder) + WideFromUtf8(file)};
  }
  return {};
}

Outcome SchemeEditor::Quit(const EditTexts& texts, std::string_view folder_text) {
  if (auto bad = FirstInvalidId(texts)) return Refused(*bad);
  m_folder = std::string(folder_text);
  if (!m_folder.empty()) {
    m_folder = client::WithTrailingSeparator(m_folder);
    m_profile.WriteProfileString(kConfigurationSection, kColorSchemePathValue, m_folder);
  }
  return {};
}

void SchemeEditor::UpdateMainFrameColor() {
  m_main.frame_color = m_main.frame.OffsetColor();
  for (auto& entry : m_table.entries) entry.main_frame_color = m_main.frame_color;
}

Outcome SchemeEditor::Refused(int id) { return {false, id, std::wstring(kByteRangeMessage)}; }

}  // namespace tintwright
