#include "client/torrents/CTorrentListe.h"

#include "client/files/utf16_ini_file.h"
#include "client/base/unexpected_fault.h"
#include "client/base/wide_text.h"
#include "engine/session/torrent_handle.h"
#include "platform/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace client {
namespace fs = std::filesystem;

namespace {

// The file's bytes; none when it is no regular file or cannot be read.
std::optional<std::string> ReadRegularFile(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) return std::nullopt;
  return bytes;
}

// Renames the file to the first free of "<name>.damaged", "<name>.damaged.2",
// ...; the new path, or none when it could not be moved.
std::optional<fs::path> SetAside(const fs::path& file) {
  for (int n = 1; n < 1000; ++n) {
    fs::path aside = file;
    aside += n == 1 ? std::string(".damaged") : ".damaged." + std::to_string(n);
    // Never over an earlier damaged file, even one made a moment ago.
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

ListFileRead LoadListFile(const fs::path& file, Utf16IniFile& ini,
                          const std::function<void(const std::wstring&)>& log) {
  ini.Clear();
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) {
    if (ec && ec != std::errc::no_such_file_or_directory) return ListFileRead::Failed;
    ini.StartListFile();
    return ListFileRead::Whole;
  }
  const std::optional<std::string> bytes = ReadRegularFile(file);
  const bool marked = bytes && bytes->starts_with("\xFF\xFE") && bytes->size() % 2 == 0;
  const bool ended = marked && bytes->size() >= 4 && bytes->ends_with(std::string_view("\n\0", 2));
  const bool read = bytes && ini.Load(file);
  if (read && marked && ended && ini.HasListSignature()) return ListFileRead::Whole;
  // A section the cut went through is kept only when it still says where
  // the torrent's files are, its totals and what kind of torrent it is
  // (the keys a save writes last but for cosmetic ones).
  if (read && !ended) ini.DropCutEnd({u"Destination", u"Uploaded", u"HasMetadata"});
  if (!read) ini.Clear();
  ini.PutListSignatureFirst();
  const std::optional<fs::path> aside = SetAside(file);
  if (!aside) {
    if (log) log(L"the list file " + Utf8ToWide(file.string()) + L" is damaged and cannot be set aside");
    return ListFileRead::Failed;
  }
  if (log) log(L"the list file was damaged: kept as " + Utf8ToWide(aside->string()));
  return ListFileRead::SetAside;
}

CTorrentListe::~CTorrentListe() = default;

bool CTorrentListe::Add(std::unique_ptr<TorrentItem> torrent) {
  m_torrents.push_back(std::move(torrent));
  return true;
}

TorrentItem* CTorrentListe::First() {
  m_cursor = 0;
  return Next();
}

TorrentItem* CTorrentListe::Next() {
  if (m_cursor >= m_torrents.size()) return nullptr;
  return m_torrents[m_cursor++].get();
}

bool CTorrentListe::Contains(const TorrentItem* torrent) const {
  return std::any_of(m_torrents.begin(), m_torrents.end(), [&](const auto& t) { return t.get() == torrent; });
}

bool CTorrentListe::Remove(TorrentItem* torrent, bool with_files) {
  const auto it =
      std::find_if(m_torrents.begin(), m_torrents.end(), [&](const auto& t) { return t.get() == torrent; });
  if (it == m_torrents.end()) return false;
  if (with_files) {
    torrent->Remove();
    if (m_onRemoved) m_onRemoved(*torrent);
  }
  // The torrents behind it move up; a walk in progress goes on with the
  // one that took its place.
  const auto index = static_cast<std::size_t>(it - m_torrents.begin());
  if (index < m_cursor) --m_cursor;
  m_torrents.erase(it);
  return true;
}

TorrentItem* CTorrentListe::FindByHash(const engine::sha1_hash& info_hash) const {
  for (const auto& t : m_torrents)
    if (!t->Handle().is_null() && t->Handle().info_hash() == info_hash) return t.get();
  return nullptr;
}

TorrentItem* CTorrentListe::PickNextQueued(const TorrentItem* excluded) const {
  TorrentItem* best = nullptr;
  try {
    for (const auto& t : m_torrents) {
      if (t.get() == excluded) continue;
      if (!t->IsValid() || !t->IsEnginePaused() || t->IsComplete() || t->IsUserPaused() ||
          t->Status() != TorrentStatus::Queued)
        continue;
      if (!best || t->Priority() > best->Priority()) best = t.get();
    }
  } catch (const engine::invalid_handle&) {
    return nullptr;
  }
  return best;
}

bool CTorrentListe::PauseAll() {
  for (const auto& t : m_torrents) {
    try {
      t->PauseEngine();
    } catch (const engine::invalid_handle&) {
      // Gone from the engine: nothing runs to pause.
    } catch (...) {
      t->Log(UnexpectedFault("pausing all"));
    }
  }
  return true;
}

bool CTorrentListe::ReannounceAll() {
  bool any = false;
  for (const auto& t : m_torrents) {
    try {
      if (t->ReAddPending() || t->Handle().is_paused() || t->Handle().is_seed()) continue;
      t->Handle().force_reannounce();
      any = true;
    } catch (const engine::invalid_handle&) {
      // Gone from the engine: nothing to announce.
    } catch (...) {
      t->Log(UnexpectedFault("the forced re-announce"));
    }
  }
  return any;
}

void CTorrentListe::InvalidateAll() {
  for (const auto& t : m_torrents) t->Repaint();
}

bool CTorrentListe::Save(const std::filesystem::path& list_file,
                         const std::function<void(const std::wstring&)>& log) {
  Utf16IniFile ini;
  if (!list_file.empty() && LoadListFile(list_file, ini, log) == ListFileRead::Failed) return false;
  ini.StartListFile();
  SaveTorrents(ini, true, false);
  return list_file.empty() || ini.Save(list_file);
}

bool CTorrentListe::SaveUnfinished(const std::filesystem::path& list_file,
                                   const std::function<void(const std::wstring&)>& log) {
  Utf16IniFile ini;
  if (!list_file.empty() && LoadListFile(list_file, ini, log) == ListFileRead::Failed) return false;
  SaveTorrents(ini, false, true);
  return list_file.empty() || ini.Save(list_file);
}

void CTorrentListe::SaveTorrents(Utf16IniFile& ini, bool pause, bool skip_seeds) {
  platform::file_batch side_files;
  for (const auto& t : m_torrents) {
    // One torrent that cannot be saved does not keep the others from it.
    try {
      if (skip_seeds && t->Status() == TorrentStatus::Seeding) continue;
      t->Save(ini, pause, &side_files);
    } catch (const std::exception& e) {
      t->SaveFailed(Utf8ToWide(e.what()));
    }
  }
  side_files.commit();
}

}  // namespace client
