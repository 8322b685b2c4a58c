#pragma once
// The adding of torrents over a recording main window: a data folder and a
// source folder of their own, .torrent files made on the spot, and a record
// of the rows, log lines, dialogs and DHT registrations.

#include "client/torrents/torrent_adder.h"
#include "engine/formats/torrent_metainfo.h"
#include "temp_folder.h"
#include "timer_test_support.h"
#include "tests/client/torrents/torrent_test_support.h"

#include <deque>
#include <iterator>
#include <mutex>

namespace client_test {

// A .torrent of one file (`file_name`, `size` bytes) or, with a second
// file, of a folder named `name`; with `nodes` a "nodes" list.
inline std::string TorrentBytes(const std::string& name, std::int64_t size, std::int64_t piece_size = 16384,
                                bool nodes = false, bool two_files = false) {
  engine::torrent_metainfo info;
  info.set_piece_size(piece_size);
  if (two_files) {
    info.add_file(name + "/a.bin", size);
    info.add_file(name + "/b.bin", size);
  } else {
    info.add_file(name, size);
  }
  info.add_tracker("http://127.0.0.1:1/announce");
  engine::entry file = info.build_torrent_dictionary();
  if (nodes) {
    engine::entry::list_type list;
    list.push_back(engine::entry::list_type{engine::entry("127.0.0.1"), engine::entry(6881)});
    file["nodes"] = list;
  }
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), file);
  return bytes;
}

inline engine::sha1_hash InfoHashOf(const std::string& bytes) {
  return engine::torrent_metainfo(bytes.data(), bytes.size()).info_hash();
}

struct RecordingHost : client::TorrentAdderHost {
  bool fail_rows = false;
  int rows_created = 0;
  int rows_changed = 0;
  int defaults_given = 0;
  std::vector<std::wstring> log;
  std::vector<client::SaveFolderRequest> asked;
  // Answers of the dialog; an empty queue cancels.
  std::deque<std::optional<client::SaveFolderChoice>> answers;

  bool CreateTorrentRow(client::TorrentItem&) override {
    ++rows_created;
    return !fail_rows;
  }
  void RowsChanged() override { ++rows_changed; }
  void AddLogLine(const std::wstring& line) override { log.push_back(line); }
  void GiveTorrentDefaults(client::TorrentItem& torrent) override {
    ++defaults_given;
    torrent.SetLimits({3000, torrent.Limits().download});
  }
  std::optional<client::SaveFolderChoice> AskSaveFolder(const client::SaveFolderRequest& request) override {
    asked.push_back(request);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void PostToGui(std::function<void()> work) override {
    std::lock_guard lock(mutex);
    posted.push_back(std::move(work));
  }
  // Runs the work posted so far; how many ran.
  int RunPosted() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mutex);
      work.swap(posted);
    }
    for (auto& w : work) w();
    return static_cast<int>(work.size());
  }

  std::mutex mutex;
  std::deque<std::function<void()>> posted;
};

// The adder as the main window sets it up: ask-always mode, a writable
// destination with plenty of room (unless a test says otherwise).
struct AdderRig {
  explicit AdderRig(client::TorrentControl* session) {
    adder.data_folder = data.path().string() + "/";
    adder.session = session;
    adder.dht = &dht;
    adder.destination = "/downloads/";
    adder.folder_space = [this](const std::string& folder) -> std::optional<client::FolderSpace> {
      queried.push_back(folder);
      return space;
    };
    queue.SetMaxActive(4);
  }

  std::filesystem::path Source(const std::string& name, const std::string& bytes) const { return source.put(name, bytes); }
  // The names in the data folder.
  std::set<std::string> DataFiles() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(data.path())) names.insert(e.path().filename().string());
    return names;
  }
  // Answers the dialog with this folder and priority.
  void Answer(const std::string& folder, int priority = 1) { host.answers.push_back(client::SaveFolderChoice{folder, priority}); }

  temp_folder data{"qf_add_data_"};
  temp_folder source{"qf_add_src_"};
  RecordingEvents events;
  RecordingHost host;
  FakeDht dht;
  client::ScriptedUiServices ui;
  client::CTorrentListe list;
  client::TorrentQueue queue{list, [this](std::wstring line) { host.log.push_back(std::move(line)); }};
  std::optional<client::FolderSpace> space = client::FolderSpace{std::uint64_t(1) << 40, true};
  std::vector<std::string> queried;
  client::TorrentAdder adder{host, ui, list, queue, events};
};

}  // namespace client_test
