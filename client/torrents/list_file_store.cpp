#include "client/torrents/list_file_store.h"

#include "client/base/wide_text.h"
#include "client/files/utf16_ini_file.h"
#include "client/torrents/CTorrentListe.h"
#include "client/torrents/torrent_item.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace client {

ListFileStore::ListFileStore(std::filesystem::path data_folder, std::filesystem::path list_file, bool session_only,
                             LogSink log)
    : m_dataFolder(std::move(data_folder)),
      m_listFile(std::move(list_file)),
      m_sessionOnly(session_only),
      m_log(std::move(log)) {}

bool ListFileStore::Restore(const RestoreOne& restore) {
  m_unloaded = false;
  std::vector<std::wstring> paths;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(m_dataFolder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name.ends_with(".torrent") && it->is_regular_file(ec)) paths.push_back(Utf8ToWide(it->path().string()));
  }
  if (paths.empty()) return false;
  std::sort(paths.begin(), paths.end());
  // The list file is read once for all torrents.
  Utf16IniFile list;
  const ListFileRead read = LoadListFile(m_listFile, list, m_log);
  for (const auto& path : paths)
    if (!restore(path, list)) m_unloaded = true;
  // What could be read of a damaged file is written down at once, so
  // that the next add does not start a list without the others.
  if (read == ListFileRead::SetAside && !list.Save(m_listFile) && m_log)
    m_log(L"cannot write " + Utf8ToWide(m_listFile.string()));
  return true;
}

bool ListFileStore::Load(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) {
  return torrent.LoadFromListFile(list, dht);
}

bool ListFileStore::SaveAll(CTorrentListe& list) {
  m_closed = true;
  if (!m_unloaded) return list.Save(m_listFile, m_log);
  // The list file as it stands, with the sections of the list's torrents
  // written over it.
  Utf16IniFile ini;
  if (LoadListFile(m_listFile, ini, m_log) == ListFileRead::Failed) return true;
  list.SaveTorrents(ini, true, false);
  return ini.Save(m_listFile);
}

bool ListFileStore::Save(TorrentItem& torrent, Utf16IniFile& list, bool pause, platform::file_batch* side_files) {
  return torrent.SaveToListFile(list, pause, side_files);
}

void ListFileStore::UpdateListFile(const std::function<void(Utf16IniFile&)>& change) {
  if (m_sessionOnly || m_closed) return;
  Utf16IniFile ini;
  if (LoadListFile(m_listFile, ini, m_log) == ListFileRead::Failed) return;
  change(ini);
  if (!ini.Save(m_listFile) && m_log) m_log(L"cannot write " + Utf8ToWide(m_listFile.string()));
}

void ListFileStore::Added(TorrentItem& torrent) {
  UpdateListFile([&](Utf16IniFile& ini) {
    try {
      torrent.SaveToListFile(ini, false);
    } catch (const std::exception& e) {
      torrent.SaveFailed(Utf8ToWide(e.what()));
    }
  });
}

bool ListFileStore::Remove(TorrentItem& torrent) {
  UpdateListFile([&](Utf16IniFile& ini) { ini.RemoveSection(EscapeSectionName(WideToUtf16(torrent.Path()))); });
  return true;
}

bool ListFileStore::ReadMetainfo(TorrentItem& torrent, std::string& bytes) { return torrent.ReadTorrentCopy(bytes); }

void ListFileStore::MetadataReceived(TorrentItem& torrent, const std::wstring& target) {
  torrent.WriteTorrentFile(target);
}

}  // namespace client
