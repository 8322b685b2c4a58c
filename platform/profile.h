#pragma once
// The program's profile: one INI-style file per program under the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config), e.g.
// ~/.config/Quillfern/Quillfern.ini, with sections such as "Configuration".
//
// Values are integers, texts (UTF-8) and binary values (kept as hex digits).
// Section and value names compare without regard to ASCII case. Every call
// reads the file afresh and every write replaces it atomically (a temporary
// file renamed over it), so any number of profile objects on one file stay
// coherent within the process.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class profile {
 public:
  // The profile of the program `program_name`:
  // <config folder>/<program_name>/<program_name>.ini.
  static profile for_program(std::string_view program_name);
  // The profile of this program ("Quillfern"), unless set_application_file
  // chose another file.
  static profile application();
  // Makes application() use `file` (tests, portable installs); an empty path
  // returns to the default.
  static void set_application_file(std::filesystem::path file);

  // A profile kept in exactly this file.
  explicit profile(std::filesystem::path file) : m_file(std::move(file)) {}

  const std::filesystem::path& file() const { return m_file; }

  // The integer, or `fallback` when the value is missing or no number.
  // Stored numbers may be written signed or as unsigned 32-bit values.
  int GetProfileInt(std::string_view section, std::string_view name, int fallback) const;
  bool WriteProfileInt(std::string_view section, std::string_view name, int value);

  std::string GetProfileString(std::string_view section, std::string_view name,
                               std::string_view fallback = {}) const;
  bool WriteProfileString(std::string_view section, std::string_view name, std::string_view value);

  // The bytes, or none when the value is missing or not hex-encoded.
  std::optional<std::string> GetProfileBinary(std::string_view section, std::string_view name) const;
  bool WriteProfileBinary(std::string_view section, std::string_view name, std::string_view bytes);

  // Removes one value; true when the file no longer holds it.
  bool DeleteProfileValue(std::string_view section, std::string_view name);

  // The section as this file keeps it: its "[section]" line and its lines
  // up to the next section, each ending in '\n'. Written to a file of its
  // own, it is a profile holding just that section. Empty when the file has
  // no such section.
  std::string SectionText(std::string_view section) const;

 private:
  std::optional<std::string> read_raw(std::string_view section, std::string_view name) const;
  bool write_raw(std::string_view section, std::string_view name, const std::string* raw);

  std::filesystem::path m_file;
};

// The user's configuration folder: $XDG_CONFIG_HOME when set and absolute,
// else $HOME/.config, else the current directory.
std::filesystem::path config_folder();

}  // namespace platform
