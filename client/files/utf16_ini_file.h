#pragma once
// The ini format of the torrent list file "TorrentQueue.txt": UTF-16LE
// starting with the mark FF FE, CR LF line ends, "[section]" lines followed
// by "key=value" lines, with the lookup rules of the Windows profile
// functions that wrote it first:
// - the first section of a name counts; section names are compared exactly
//   (they are file paths, and paths differ by case here);
// - keys compare without regard to ASCII case; the first one counts;
// - blanks around keys and values are not part of them, and a value in
//   matching single or double quotes is read without them.
//
// The whole file is read into memory, changed there and written back as a
// whole through a temporary renamed over it.

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace client {

// The signature section every list file starts with.
inline constexpr std::u16string_view kListSignatureSection = u"Quillfern";
inline constexpr std::u16string_view kListSignatureKey = u"Tarrow";
inline constexpr std::u16string_view kListSignatureValue = u"Velmorathine";

// A torrent's section name in the list file: its file path with every "["
// replaced by "<", every "]" by ">" and every "=" by "*".
std::u16string EscapeSectionName(std::u16string_view path);

class Utf16IniFile {
 public:
  // Reads the file (UTF-16 with either mark, else UTF-8 text). A missing
  // file reads as an empty one; false when the file cannot be read.
  bool Load(const std::filesystem::path& file);
  // Writes the whole file: the mark FF FE, then every line in UTF-16LE
  // ending in CR LF.
  bool Save(const std::filesystem::path& file) const;

  void Clear() {
    m_sections.clear();
    m_indexed = false;
  }
  // Empties the file but for the signature section.
  void StartListFile();

  // The value, or none when the section or key is missing.
  std::optional<std::u16string> Get(std::u16string_view section, std::u16string_view key) const;
  std::u16string GetString(std::u16string_view section, std::u16string_view key,
                           std::u16string_view fallback = {}) const;
  // Sets (or adds) a value. False for what the format cannot hold: an empty
  // section or key, a line break in any of them, a key with "=", blanks
  // at its ends or starting with "[".
  bool Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);
  // Drops every section of the name with its keys; false when there was
  // none.
  bool RemoveSection(std::u16string_view section);
  // The names of the sections in their order (each name once).
  std::vector<std::u16string> SectionNames() const;
  // The keys and values of the section in their order (none: no section).
  std::vector<std::pair<std::u16string, std::u16string>> Entries(std::u16string_view section) const;

  // Whether the file starts with the signature section (as every list file
  // written by the program does).
  bool HasListSignature() const;
  // What is left of a file cut short: its last line goes (it may be cut
  // off anywhere), and the last section too unless it still holds every
  // key of `needed`.
  void DropCutEnd(std::initializer_list<std::u16string_view> needed);
  // The signature section first, the lines ahead of the first section and
  // any other signature section gone; the torrents' sections stay in order.
  void PutListSignatureFirst();

 private:
  struct Entry {
    std::u16string key;
    std::optional<std::u16string> value;  // none: a line without "="
  };
  struct Section {
    std::u16string name;
    bool header = true;  // false for lines ahead of the first section
    std::vector<Entry> entries;
  };
  // The index of the first section of the name / the first entry of the
  // key, or kNone.
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t FindSection(std::u16string_view name) const;
  static std::size_t FindEntry(const Section& section, std::u16string_view key);

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view name) const { return std::hash<std::u16string_view>()(name); }
  };

  std::vector<Section> m_sections;
  // The first section of each name by its index, made at the first look-up
  // after the sections changed otherwise than by Set adding one: a list
  // of thousands of torrents is read and written section by section.
  mutable std::unordered_map<std::u16string, std::size_t, NameHash, std::equal_to<>> m_index;
  mutable bool m_indexed = false;
};

}  // namespace client
