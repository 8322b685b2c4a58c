#include "client/files/utf16_ini_file.h"

#include "client/files/CUTF16File.h"

#include <system_error>

namespace client {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool KeysEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Line breaks (and NUL, which ends a text on the other side) cannot be
// kept inside one line of the file.
bool FitsOnALine(std::u16string_view s) {
  constexpr std::u16string_view kBreaks(u"\r\n\0", 3);
  return s.find_first_of(kBreaks) == s.npos;
}

}  // namespace

std::u16string EscapeSectionName(std::u16string_view path) {
  std::u16string name(path);
  for (char16_t& c : name) {
    if (c == u'[') c = u'<';
    else if (c == u']') c = u'>';
    else if (c == u'=') c = u'*';
  }
  return name;
}

bool Utf16IniFile::Load(const std::filesystem::path& file) {
  Clear();
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return !ec;
  CUTF16File in;
  if (!in.Open(file, CUTF16File::modeRead | CUTF16File::typeBinary)) return false;
  std::u16string raw;
  while (in.ReadString(raw)) {
    const std::u16string_view line = Trim(raw);
    if (line.empty()) continue;
    if (line.front() == u'[') {
      const std::size_t close = line.rfind(u']');
      if (close != line.npos) {
        m_sections.push_back({std::u16string(line.substr(1, close - 1)), true, {}});
        continue;
      }
    }
    if (m_sections.empty()) m_sections.push_back({{}, false, {}});
    Entry entry;
    const std::size_t eq = line.find(u'=');
    entry.key = Trim(line.substr(0, eq));
    if (eq != line.npos) entry.value = std::u16string(Trim(line.substr(eq + 1)));
    m_sections.back().entries.push_back(std::move(entry));
  }
  return true;
}

bool Utf16IniFile::Save(const std::filesystem::path& file) const {
  std::u16string text;
  for (const Section& section : m_sections) {
    if (section.header) text += u"[" + section.name + u"]\r\n";
    for (const Entry& entry : section.entries) {
      text += entry.key;
      if (entry.value) text += u"=" + *entry.value;
      text += u"\r\n";
    }
  }
  CUTF16File out;
  if (!out.Open(file, CUTF16File::modeCreate | CUTF16File::modeWrite)) return false;
  out.WriteString(text);  // at the start: the mark first, even for no text
  return out.Close();
}

void Utf16IniFile::StartListFile() {
  Clear();
  Set(kListSignatureSection, kListSignatureKey, kListSignatureValue);
}

bool Utf16IniFile::RemoveSection(std::u16string_view name) {
  const auto removed = std::erase_if(m_sections, [&](const Section& s) { return s.header && s.name == name; });
  if (removed > 0) m_indexed = false;
  return removed > 0;
}

std::vector<std::u16string> Utf16IniFile::SectionNames() const {
  std::vector<std::u16string> names;
  for (std::size_t i = 0; i < m_sections.size(); ++i)
    if (m_sections[i].header && FindSection(m_sections[i].name) == i) names.push_back(m_sections[i].name);
  return names;
}

std::vector<std::pair<std::u16string, std::u16string>> Utf16IniFile::Entries(std::u16string_view section) const {
  std::vector<std::pair<std::u16string, std::u16string>> entries;
  const std::size_t s = FindSection(section);
  if (s == kNone) return entries;
  for (const Entry& entry : m_sections[s].entries)
    if (entry.value && FindEntry(m_sections[s], entry.key) == static_cast<std::size_t>(&entry - m_sections[s].entries.data()))
      entries.emplace_back(entry.key, *Get(section, entry.key));
  return entries;
}

bool Utf16IniFile::HasListSignature() const {
  return !m_sections.empty() && m_sections.front().header && m_sections.front().name == kListSignatureSection &&
         Get(kListSignatureSection, kListSignatureKey) == kListSignatureValue;
}

void Utf16IniFile::DropCutEnd(std::initializer_list<std::u16string_view> needed) {
  m_indexed = false;
  if (m_sections.empty()) return;
  Section& last = m_sections.back();
  if (!last.entries.empty()) last.entries.pop_back();
  else m_sections.pop_back();  // the cut went through its header line
  if (m_sections.empty()) return;
  for (const std::u16string_view key : needed) {
    if (FindEntry(m_sections.back(), key) == kNone) {
      m_sections.pop_back();
      return;
    }
  }
}

void Utf16IniFile::PutListSignatureFirst() {
  m_indexed = false;
  std::erase_if(m_sections, [](const Section& s) { return !s.header || s.name == kListSignatureSection; });
  m_sections.insert(m_sections.begin(), {std::u16string(kListSignatureSection), true,
                                         {{std::u16string(kListSignatureKey), std::u16string(kListSignatureValue)}}});
}

std::size_t Utf16IniFile::FindSection(std::u16string_view name) const {
  if (!m_indexed) {
    m_index.clear();
    for (std::size_t i = 0; i < m_sections.size(); ++i)
      if (m_sections[i].header) m_index.emplace(m_sections[i].name, i);
    m_indexed = true;
  }
  const auto it = m_index.find(name);
  return it == m_index.end() ? kNone : it->second;
}

std::size_t Utf16IniFile::FindEntry(const Section& section, std::u16string_view key) {
  for (std::size_t i = 0; i < section.entries.size(); ++i)
    if (KeysEqual(section.entries[i].key, key)) return i;
  return kNone;
}

std::optional<std::u16string> Utf16IniFile::Get(std::u16string_view section, std::u16string_view key) const {
  const std::size_t s = FindSection(section);
  if (s == kNone) return std::nullopt;
  const std::size_t e = FindEntry(m_sections[s], Trim(key));
  if (e == kNone) return std::nullopt;
  std::u16string value = m_sections[s].entries[e].value.value_or(std::u16string());
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

std::u16string Utf16IniFile::GetString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view fallback) const {
  return Get(section, key).value_or(std::u16string(fallback));
}

bool Utf16IniFile::Set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  if (section.empty() || !FitsOnALine(section) || key.empty() || Trim(key) != key || !FitsOnALine(key) ||
      key.find(u'=') != key.npos || key.front() == u'[' || !FitsOnALine(value)) {
    return false;
  }
  std::size_t s = FindSection(section);
  if (s == kNone) {
    s = m_sections.size();
    m_sections.push_back({std::u16string(section), true, {}});
    m_index.emplace(std::u16string(section), s);
  }
  auto& entries = m_sections[s].entries;
  if (const std::size_t e = FindEntry(m_sections[s], key); e != kNone) entries[e].value = std::u16string(value);
  else entries.push_back({std::u16string(key), std::u16string(value)});
  return true;
}

}  // namespace client
