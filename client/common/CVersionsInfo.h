#pragma once
// The program's own version: the FileVersion text and its four numbers,
// for the engine's client fingerprint, the update check, the "created by"
// text of made torrents and the frame's about text. Constructed on the
// stack where needed.

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace client {

// Where the version comes from: the FileVersion text of a string table
// ("040904b0", "040704b0"), none when that table or its text is missing.
// A source may throw; the version is then unknown.
class VersionResource {
 public:
  virtual ~VersionResource() = default;
  virtual std::optional<std::wstring> FileVersion(std::wstring_view table) const = 0;
};

// A version resource held as table name -> FileVersion text.
class VersionTables : public VersionResource {
 public:
  VersionTables() = default;
  VersionTables(std::initializer_list<std::pair<const std::wstring, std::wstring>> tables) : m_tables(tables) {}
  std::optional<std::wstring> FileVersion(std::wstring_view table) const override;

 private:
  std::map<std::wstring, std::wstring, std::less<>> m_tables;
};

// The version the program was built with: its text ("1, 3, 0, 55") in
// table 040904b0.
const VersionResource& BuiltVersion();

class CVersionsInfo {
 public:
  // The version of this program.
  CVersionsInfo();
  // The version found in `source`: the 040904b0 text read as
  // "%d,%d,%d,%d", else the 040704b0 text read as "%d.%u.%u.%u", else the
  // text "0.0.0.0".
  explicit CVersionsInfo(const VersionResource& source);

  // The leading number of the text, -1 without a text.
  int GetMajor() const;
  // The text, "Version -1.0" without one.
  std::wstring GetVersionText() const;

  // The four numbers read from the text; 0 where none was read.
  int GetMajorVersion() const { return m_numbers[0]; }
  int GetMinorVersion() const { return m_numbers[1]; }
  int GetBuildNumber() const { return m_numbers[2]; }
  int GetRevision() const { return m_numbers[3]; }

 private:
  void Read(const VersionResource& source);

  int m_numbers[4] = {0, 0, 0, 0};
  std::optional<std::wstring> m_text;
};

}  // namespace client
