#pragma once
// What the store's server has not taken yet: the torrents whose rows are
// behind (a write failed) and the removals not carried out, each named by
// its info-hash (40 upper-case hexadecimal digits). The queue keeps them
// while the program runs and, between runs, in the waiting file beside the
// list file, in the list file's format:
// - the signature section, as in the list file;
// - one section per torrent that waits, named by its info-hash, holding
//   "Path" (its file path in the data folder, which names its .torrent copy
//   and side files) and the keys of its list-file section;
// - the section "Removals": one key per removal, the info-hash, whose value
//   is the torrent's file name.
// The log says what starts to wait and what the store took since.

#include "client/files/utf16_ini_file.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

inline constexpr std::string_view kWaitingFileName = "TorrentQueue.waiting.txt";
inline constexpr std::u16string_view kWaitingRemovalsSection = u"Removals";
inline constexpr std::u16string_view kWaitingPathKey = u"Path";

// A torrent that waited for the store at the end of an earlier run.
struct KeptTorrent {
  std::string info_hash;
  std::wstring path;
  // Its section, named as the list file names it (by the path).
  Utf16IniFile section;
};

class StoreQueue {
 public:
  using LogSink = std::function<void(const std::wstring&)>;
  explicit StoreQueue(LogSink log) : m_log(std::move(log)) {}

  // --- torrents whose rows are behind

  // A write of the torrent failed: it waits ("<name> waits for the store:
  // <error>", once while it waits).
  void SaveFailed(const std::string& info_hash, const std::wstring& name, const std::wstring& error);
  // Its whole row was written: it waits no more ("<name> is in the store
  // again" when it waited), and a removal that waited for it no longer
  // applies (it was added again).
  void Saved(const std::string& info_hash, const std::wstring& name);
  bool SaveWaits(const std::string& info_hash) const;
  std::size_t SavesWaiting() const { return m_saves.size(); }

  // --- removals

  // The torrent left the program: its removal is to be carried out
  // (CarryOutRemovals), and a save that waited for it is dropped.
  void RemovalWaits(const std::string& info_hash, const std::wstring& name);
  // Carries out the waiting removals in their order through `finish`
  // until one fails (`finish` gives the store's text then). A removal
  // that has to wait is logged once ("the removal of <name> waits for the
  // store", with ": <error>" for the one that failed), and when it is
  // carried out later the log says so ("the removal of <name> reached the
  // store"). True when none waits any more.
  using Finish = std::function<bool(const std::string& info_hash, std::wstring& error)>;
  bool CarryOutRemovals(const Finish& finish);
  bool RemovalWaits(const std::string& info_hash) const;
  std::size_t RemovalsWaiting() const { return m_removals.size(); }

  // Nothing waits, in the run nor from an earlier one.
  bool Empty() const { return m_saves.empty() && m_removals.empty() && m_kept.empty(); }

  // --- between runs

  // Reads the waiting file (a missing one: nothing waits). Its removals
  // wait again; its torrents are kept until loaded (Loaded) or written
  // back (Write). A damaged file is set aside as a damaged list file is
  // (LoadListFile), and what could be read of it waits. False when it
  // cannot be read nor set aside: Write then leaves it alone.
  bool Read(const std::filesystem::path& file);
  // The torrents of the file that were not loaded in this run.
  const std::vector<KeptTorrent>& Kept() const { return m_kept; }
  const KeptTorrent* FindKept(const std::string& info_hash) const;
  // A kept torrent is in the program now: it waits as one of this run's.
  void Loaded(const std::string& info_hash, const std::wstring& name);
  // Writes what waits: the kept torrents as they were read, then for every
  // torrent of this run that waits its section through `section` (which
  // fills the list-file section of that info-hash into the file given;
  // false: the torrent is not there, nothing is written of it), then the
  // removals. Without anything to write the file goes. False when it could
  // not be written.
  bool Write(const std::filesystem::path& file,
             const std::function<bool(const std::string& info_hash, Utf16IniFile& list, std::wstring& path)>& section);

 private:
  struct Waiting {
    std::string info_hash;
    std::wstring name;
    bool logged = false;
  };
  static Waiting* Find(std::vector<Waiting>& list, const std::string& info_hash);
  static const Waiting* Find(const std::vector<Waiting>& list, const std::string& info_hash);
  void Log(const std::wstring& line) const {
    if (m_log) m_log(line);
  }

  LogSink m_log;
  std::vector<Waiting> m_saves;
  std::vector<Waiting> m_removals;
  std::vector<KeptTorrent> m_kept;
  bool m_unreadable = false;
};

}  // namespace client
