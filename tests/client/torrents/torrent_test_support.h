#pragma once
// Torrents over the fake session, and a record of what they tell the main
// window.

#include "client/torrents/torrent_item.h"
#include "fake_torrent_control.h"

#include <memory>
#include <string>
#include <vector>

namespace client_test {

struct RecordingEvents : client::TorrentEvents {
  struct Event {
    std::string kind;  // "started", "stopped", "remove"
    client::TorrentItem* torrent;
    int status;
  };
  std::vector<Event> events;
  std::vector<std::wstring> log;

  void TorrentStarted(client::TorrentItem& t, int status) override { events.push_back({"started", &t, status}); }
  void TorrentStopped(client::TorrentItem& t, int status) override { events.push_back({"stopped", &t, status}); }
  void RemoveTorrent(client::TorrentItem& t, int status) override { events.push_back({"remove", &t, status}); }
  void LogLine(std::wstring line) override { log.push_back(std::move(line)); }
};

struct RecordingView : client::TorrentView {
  int timers = 0, repaints = 0, destroyed = 0;
  void ArmTimer() override { ++timers; }
  void Repaint() override { ++repaints; }
  void DestroyView() override { ++destroyed; }
};

// The user's settings of a torrent with some parts changed, set the way
// its properties dialog sets them.
template <class Change>
void ChangeGoal(client::TorrentItem& item, Change change) {
  client::SeedingGoal goal = item.Goal();
  change(goal);
  item.SetSeedingGoal(goal);
}
template <class Change>
void ChangeLimits(client::TorrentItem& item, Change change) {
  client::TransferLimits limits = item.Limits();
  change(limits);
  item.SetLimits(limits);
}

inline std::wstring TorrentPath(int n) { return L"/data/Torrents/t" + std::to_wstring(n) + L".torrent"; }

// Torrent n of the fake session, with its item; `status` is the chart's.
inline std::unique_ptr<client::TorrentItem> MakeTorrent(FakeTorrentControl& fake, RecordingEvents& events, int n,
                                                        int status = client::TorrentStatus::Queued,
                                                        FakeTorrent engine_torrent = {}) {
  auto item = std::make_unique<client::TorrentItem>(TorrentPath(n), L"t" + std::to_wstring(n), events);
  item->SetSession(&fake);
  item->Attach(fake.Put(FakeTorrentControl::Hash(n), std::move(engine_torrent)));
  item->SetStatus(status);
  return item;
}

}  // namespace client_test
