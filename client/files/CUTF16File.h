#pragma once
// A text file of UTF-16 units with a byte-order mark, as the desktop program
// keeps its small lists ("Destinations.txt"): reading detects the mark (FF FE
// little-endian, FE FF byte-swapped) and falls back to plain text without
// one; writing puts the mark FF FE at the start and the units as they are.
//
// The file's bytes are held in memory while it is open. A file opened for
// writing is replaced as a whole when it is closed (a temporary renamed over
// it), so a crash while writing leaves the old file as it was.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

namespace client {

class CUTF16File {
 public:
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    modeCreate = 0x1000,      // start empty (the file is replaced on Close)
    modeNoTruncate = 0x2000,  // with modeCreate: keep an existing file's bytes
    typeText = 0x4000,        // plain text: CR LF read as LF, LF written as CR LF
    typeBinary = 0x8000,      // plain text without line-end translation
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };

  CUTF16File() = default;
  // Opens at once; IsOpen() tells whether that worked.
  CUTF16File(const std::filesystem::path& name, unsigned flags);
  ~CUTF16File();
  CUTF16File(const CUTF16File&) = delete;
  CUTF16File& operator=(const CUTF16File&) = delete;

  // False when the file cannot be read (a missing file is created empty
  // only with modeCreate).
  bool Open(const std::filesystem::path& name, unsigned flags);
  // Writes a file opened for writing back; false when that failed.
  bool Close();
  bool IsOpen() const { return m_open; }

  // One line without its LF (a CR before it is kept in UTF-16 files); false
  // at the end of the file.
  bool ReadString(std::u16string& line);
  // At most n - 1 units, up to and including an LF, terminated with 0; the
  // buffer when a unit was read, else nullptr (also when n < 2).
  char16_t* ReadString(char16_t* buffer, unsigned n);

  // Moves to the position; a UTF-16 file reads ahead again from there.
  std::uint64_t Seek(std::int64_t offset, SeekPosition from);
  std::uint64_t GetPosition() const { return m_pos; }

  // The UTF-16 way (the default): at position 0 the mark FF FE first, then
  // two bytes per unit, little-endian, with no line-end translation. The
  // plain way: UTF-8 text.
  bool WriteString(std::u16string_view text);
  void SetUnicodeWriting(bool unicode) { m_write_unicode = unicode; }

  bool IsUnicode() const { return m_unicode; }
  bool IsSwapped() const { return m_swapped; }

 private:
  void Fill();
  // The next character of a plain file (one unit, or two for a surrogate
  // pair); 0 units at the end.
  int NextPlainChar(char16_t out[2]);
  bool ReadPlainString(std::u16string& line);
  char16_t* ReadPlainString(char16_t* buffer, unsigned n);
  void WriteBytes(std::string_view bytes);

  std::filesystem::path m_name;
  unsigned m_flags = 0;
  bool m_open = false;
  bool m_changed = false;
  std::string m_bytes;
  std::size_t m_pos = 0;

  bool m_unicode = false;
  bool m_swapped = false;
  bool m_write_unicode = true;
  std::deque<char16_t> m_ahead;
};

}  // namespace client
