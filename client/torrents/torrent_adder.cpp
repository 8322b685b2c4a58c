#include "client/torrents/torrent_adder.h"

#include "client/torrents/command_line.h"
#include "client/torrents/hash_torrent_model.h"
#include "client/files/torrent_copy_name.h"
#include "client/net/url_download.h"
#include "client/base/unexpected_fault.h"
#include "client/base/wide_text.h"
#include "engine/formats/entry.h"
#include "engine/formats/text_helpers.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/session/session.h"

#include <fstream>
#include <system_error>

namespace client {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCaption = "Quillfern";
constexpr const char* kInvalidTorrent = "Invalid torrent file";

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

void RemoveFile(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// None when unreadable or larger than a torrent file may be.
std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    bytes.append(block, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxTorrentFileSize) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

// The copy in the data folder; removed again when the add does not go
// through, unless it is the source itself.
class TorrentAdder::OwnCopy {
 public:
  OwnCopy(std::string path, bool ours) : m_path(std::move(path)), m_ours(ours) {}
  ~OwnCopy() {
    if (m_ours && !m_kept) RemoveFile(m_path);
  }
  OwnCopy(const OwnCopy&) = delete;
  OwnCopy& operator=(const OwnCopy&) = delete;
  const std::string& Path() const { return m_path; }
  void Keep() { m_kept = true; }

 private:
  std::string m_path;
  bool m_ours;
  bool m_kept = false;
};

TorrentAdder::TorrentAdder(TorrentAdderHost& host, UiServices& ui, CTorrentListe& list, TorrentQueue& queue,
                           TorrentEvents& events)
    : m_host(host), m_ui(ui), m_list(list), m_queue(queue), m_events(events) {}

std::string TorrentAdder::FreeName(std::string_view name) const {
  return UniqueTorrentName(data_folder, name, [this](const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    for (const auto& torrent : m_list)
      if (torrent->Path() == wide) return true;
    for (const char* suffix : {"", ".ResumeData", ".FilterData", ".log.txt"})
      if (Exists(path + suffix)) return true;
    return false;
  });
}

std::unique_ptr<TorrentItem> TorrentAdder::NewTorrent(const std::string& path) {
  auto torrent = std::make_unique<TorrentItem>(Utf8ToWide(path), L"Torrent", m_events);
  torrent->SetStore(store);
  torrent->SetRateScale(rate_scale_up, rate_scale_down);
  return torrent;
}

TorrentItem* TorrentAdder::AppendRow(std::unique_ptr<TorrentItem> torrent) {
  TorrentItem* row = torrent.get();
  m_list.Add(std::move(torrent));
  if (!m_host.CreateTorrentRow(*row)) {
    m_list.Remove(row, false);
    return nullptr;
  }
  m_host.RowsChanged();
  return row;
}

void TorrentAdder::DropRow(TorrentItem* torrent) {
  // Without its files: they may belong to a torrent the program has.
  m_list.Remove(torrent, false);
  m_host.RowsChanged();
}

bool TorrentAdder::IsDuplicate(const engine::sha1_hash& info_hash) {
  if (!m_list.FindByHash(info_hash) && !(session && session->is_valid(info_hash))) return false;
  m_host.AddLogLine(L"duplicate torrent");
  return true;
}

bool TorrentAdder::AddedAfterRemoval(const engine::sha1_hash& info_hash, const std::wstring& name,
                                     std::function<void()> add) {
  // A torrent of the list is no torrent being removed.
  if (!removals || m_list.FindByHash(info_hash) || !removals->AfterRemoval(info_hash, std::move(add))) return false;
  m_host.AddLogLine(name + L" is added again once its removal is done");
  return true;
}

bool TorrentAdder::AddTorrentFile(const std::string& path, bool delete_source) {
  std::error_code size_ec;
  if (const std::uintmax_t size = fs::file_size(path, size_ec); !size_ec && size > kMaxTorrentFileSize) {
    m_host.AddLogLine(L"Could not add '" + Utf8ToWide(path) + L"': " + std::to_wstring(size) +
                      L" bytes, more than a torrent file holds (at most 64 MiB).");
    if (delete_source) RemoveFile(path);
    return false;
  }
  std::optional<std::string> name = TorrentCopyName(path);
  if (!name) {
    m_ui.MessageBox("Could not add '" + path + "':\nits name is not a usable file name.", kCaption,
                    MessageKind::Error);
    return false;
  }
  // The source is opened by its bytes as they are; the copy's name is kept
  // as text, so bytes that are no UTF-8 (a name from another locale) become
  // U+FFFD in it.
  *name = WideToUtf8(Utf8ToWide(*name));
  std::string target = data_folder + *name;
  const bool copy = !SameFile(path, target);
  if (copy) {
    target = data_folder + FreeName(*name);
    std::error_code ec;
    // Never over another file: the name was free a moment ago.
    fs::copy_file(path, target, fs::copy_options::none, ec);
    if (ec) {
      m_ui.MessageBox("Could not copy '" + path + "'\n to '" + target +
                          "'\n\nTry to save the file to disk before adding\nor\ndrop the link onto the main window.",
                      kCaption, MessageKind::Error);
      return false;
    }
    if (delete_source) RemoveFile(path);
  }
  auto file = std::make_shared<OwnCopy>(target, copy);
  std::error_code ec;
  fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);

  if (!session) {
    // Without an engine the row stays; the next start restores it.
    if (!AppendRow(NewTorrent(target))) return false;
    file->Keep();
    return true;
  }
  return AddCopy(file);
}

bool TorrentAdder::AddCopy(const std::shared_ptr<OwnCopy>& file) {
  const std::string& target = file->Path();
  engine::entry torrent_file;
  std::optional<engine::torrent_metainfo> info;
  std::string bytes;
  try {
    const std::optional<std::string> read = ReadFile(target);
    if (!read) throw engine::invalid_torrent_file();
    bytes = *read;
    torrent_file = engine::bdecode(bytes);
    // From the bytes: the info-hash is taken over the "info" bytes as they
    // stand, the one the torrent's trackers and peers know.
    info.emplace(bytes.data(), bytes.size());
  } catch (const std::exception&) {
    m_ui.MessageBox(kInvalidTorrent, kCaption, MessageKind::Error);
    return false;
  }
  // The copy waits in the data folder, under the name it has now.
  if (AddedAfterRemoval(info->info_hash(), Utf8ToWide(fs::path(target).filename().string()),
                        [this, file] { AddCopy(file); }))
    return true;
  if (IsDuplicate(info->info_hash())) return false;

  const std::wstring name16 = Utf8ToWide(info->name());
  if (!ChooseSavePath(name16, static_cast<std::uint64_t>(info->total_size()))) return false;

  TorrentItem* torrent = AppendRow(NewTorrent(target));
  if (!torrent) return false;
  if (info->files().size() == 1)
    torrent->Chart().SetName(Utf8ToWide(engine::ToLocalFilePath(info->files().front().path).string()));
  else
    torrent->Chart().SetName(name16);
  torrent->SetPriority(TorrentPriority(priority));
  torrent->SetSession(session);
  if (info->num_pieces() > 0 && info->piece_size(0) > kLargePieceSize) m_host.AddLogLine(L"piece size > 4 MBytes");

  if (!AddToSession(*torrent, *info)) {
    DropRow(torrent);
    return false;
  }
  file->Keep();
  m_host.GiveTorrentDefaults(*torrent);
  StartOrQueue(*torrent, name16);
  try {
    Register(*torrent, torrent_file);
  } catch (const std::exception& e) {
    // The torrent runs without the DHT.
    m_host.AddLogLine(Utf8ToWide(e.what()));
  }
  // In store mode the metainfo lives in the store alone.
  if (StoreRow(*torrent, bytes, info->name())) RemoveFile(target);
  m_host.TorrentAdded(*torrent);
  return true;
}

bool TorrentAdder::AddToSession(TorrentItem& torrent, const engine::torrent_metainfo& info) {
  try {
    torrent.Attach(session->add_torrent(info, fs::path(destination), engine::entry(), true, kAddBlockSize));
    return true;
  } catch (const engine::duplicate_torrent&) {
    m_host.AddLogLine(L"duplicate torrent");
  } catch (const fs::filesystem_error& e) {
    m_ui.MessageBox(e.what(), kCaption, MessageKind::Error);
  } catch (...) {
    // The metainfo read well a moment ago: what the engine found is said.
    m_host.AddLogLine(UnexpectedFault("adding a torrent to the engine"));
    m_ui.MessageBox(kInvalidTorrent, kCaption, MessageKind::Error);
  }
  return false;
}

void TorrentAdder::StartOrQueue(TorrentItem& torrent, const std::wstring& name) {
  if (session_only || m_queue.ActiveCount() >= m_queue.MaxActive()) return;
  if (torrent.Start(false)) m_queue.OnTorrentStarted();
  else m_host.AddLogLine(name + L" failed to start");
}

void TorrentAdder::Register(TorrentItem& torrent, const engine::entry& torrent_file) {
  const engine::entry* nodes = torrent_file.find_key("nodes");
  const bool public_torrent = nodes && nodes->type() == engine::entry::list_t && !nodes->list().empty();
  torrent.SetHasDhtNodes(public_torrent);
  if (!dht) return;
  const engine::sha1_hash& info_hash = torrent.Handle().info_hash();
  dht->AddInfoHash(info_hash, !public_torrent, true);
  if (public_torrent) dht->AddBootstrapNodes(*nodes, info_hash);
}

bool TorrentAdder::StoreRow(TorrentItem& torrent, std::string_view meta_data, std::string_view name) {
  if (!store || session_only) return false;
  return store->TakeMetainfo(torrent, meta_data, name);
}

bool TorrentAdder::AddTorrentByHash(std::wstring_view info_hash, std::wstring_view tracker_url,
                                    std::wstring_view save_path) {
  const std::optional<engine::sha1_hash> hash = ParseInfoHash(info_hash);
  if (!hash || !session) return false;
  if (AddedAfterRemoval(*hash, std::wstring(info_hash),
                        [this, hash = std::wstring(info_hash), tracker = std::wstring(tracker_url),
                         folder = std::wstring(save_path)] { AddTorrentByHash(hash, tracker, folder); }))
    return true;
  if (IsDuplicate(*hash)) return false;
  // The placeholder is named by the hash's digits alone, whatever else
  // the text held.
  std::wstring hex;
  for (std::uint8_t byte : *hash) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  const std::string path = data_folder + FreeName(WideToUtf8(hex) + ".Torrent");
  TorrentItem* torrent = AppendRow(NewTorrent(path));
  if (!torrent) return false;
  torrent->SetPriority(TorrentPriority(priority));
  torrent->SetSession(session);
  try {
    torrent->Attach(session->add_torrent_by_info_hash(WideToUtf8(tracker_url), *hash,
                                                      fs::path(WideToUtf8(save_path)), kAddBlockSize));
  } catch (const engine::duplicate_torrent&) {
    m_host.AddLogLine(L"duplicate torrent");
    DropRow(torrent);
    return false;
  } catch (const std::exception& e) {
    m_host.AddLogLine(Utf8ToWide(e.what()));
    DropRow(torrent);
    return false;
  }
  std::ofstream(path, std::ios::binary) << kPlaceholderText;
  m_host.GiveTorrentDefaults(*torrent);
  StartOrQueue(*torrent, hex);
  StoreRow(*torrent, {}, "Unkown");
  m_host.TorrentAdded(*torrent);
  return true;
}

bool TorrentAdder::ChooseSavePath(std::wstring_view name, std::uint64_t required) {
  const AutoSaveChoice choice = ChooseAutoSaveFolder(auto_save, name, required, folder_space);
  if (choice.folder && !choice.folder->empty()) destination = *choice.folder;
  if (choice.log_line) m_host.AddLogLine(*choice.log_line);
  if (choice.accepted) return true;
  const std::optional<SaveFolderChoice> answer =
      m_host.AskSaveFolder({std::wstring(name), destination, required, priority});
  if (!answer) return false;
  destination = answer->folder;
  priority = answer->priority;
  return true;
}

bool TorrentAdder::OpenCommandLine(std::string_view text) {
  const std::optional<std::string> path = TorrentPathFromCommandLine(text);
  return path && AddTorrentFile(*path, false);
}

void TorrentAdder::OpenDropped(const DroppedItems& items) {
  if (!items.Accepted()) return;
  for (const std::string& file : items.files) AddTorrentFile(file, false);
  for (const std::string& url : items.urls) OpenTorrentUrl(url);
}

bool TorrentAdder::OpenTorrentUrl(const std::string& url) {
  if (!downloads) return false;
  DownloadPosts posts;
  // Called on the download's thread: the work is handed to the GUI thread.
  posts.log_line = [this](const std::wstring& line) { m_host.PostToGui([this, line] { m_host.AddLogLine(line); }); };
  posts.open_torrent_file = [this](const fs::path& file) {
    m_host.PostToGui([this, file] { AddTorrentFile(file.string(), true); });
  };
  return m_downloadQueue.Start(*downloads, {url, download_folder}, std::move(posts));
}

}  // namespace client
