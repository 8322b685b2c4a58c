#include "client/dialogs/peers_model.h"
#include "platform/profile.h"
#include "tests/client/torrents/fake_torrent_control.h"
#include "tests/client/temp_folder.h"
#include "tests/client/torrents/torrent_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using client::PeersModel;
using engine::address;
using engine::peer_info;
namespace id = client::peers_id;

namespace {

peer_info Peer(address ip, std::int64_t received = 0, bool chat = false, bool outgoing = true) {
  peer_info p;
  p.ip = ip;
  p.total_download = received;
  if (chat) p.flags |= peer_info::supports_extensions;
  if (outgoing) p.flags |= peer_info::local_connection;
  p.pid = engine::peer_id::from_bytes("-QF1300-abcdefghijkl");
  return p;
}

std::vector<address> Order(const PeersModel& model) {
  std::vector<address> order;
  for (const client::PeerRow& row : model.Rows()) order.push_back(row.info.ip);
  return order;
}

}  // namespace

TEST(PeersModel, CellTextsFollowTheByteAndRateRules) {
  EXPECT_EQ(client::PeerBytesText(0), L"");
  EXPECT_EQ(client::PeerBytesText(2048), L"2048");
  EXPECT_EQ(client::PeerBytesText(2049), L"2K");
  EXPECT_EQ(client::PeerBytesText(2097152), L"2048K");
  EXPECT_EQ(client::PeerBytesText(2097153), L"2M");
  EXPECT_EQ(client::PeerBytesText(5368709121), L"5G");
  EXPECT_EQ(client::PeerRateText(0.04), L"");
  EXPECT_EQ(client::PeerRateText(0.05), L"0.1");
  EXPECT_EQ(client::PeerRateText(2048), L"2048.0");
  EXPECT_EQ(client::PeerRateText(3000), L"2.9K");
  EXPECT_EQ(client::BanText(L"1.2.3.4"), L"Ban 1.2.3.4");
  EXPECT_EQ(client::BanRangeText(L"1.2.3.4"), L"Ban 1.2.3.*");

  PeersModel model;
  peer_info seed = Peer(address(10, 0, 0, 1, 6881), 2049, true, false);
  seed.seed = true;
  seed.up_speed = 3000;
  seed.down_speed = 0.04f;
  peer_info leech = Peer(address(10, 0, 0, 2, 6881));
  leech.pieces = {true, false, false, false};
  leech.flags |= peer_info::queued;
  model.Refresh({seed, leech}, 4, 1000, false);
  const std::vector<std::wstring> first = {L"10.0.0.1", L"Quillfern 1.3.0.0", L"Seed", L"2K", L"", L"2.9K", L"",
                                           L"Yes", L"\u25C4"};
  for (int c = 0; c < client::kPeerColumnCount; ++c) EXPECT_EQ(model.CellText(0, c), first[std::size_t(c)]) << c;
  EXPECT_EQ(model.CellText(1, 2), L"25.0");
  EXPECT_EQ(model.CellText(1, 8), L"\u25A0");
  // Our own name without our extension protocol is a claim, not a fact.
  EXPECT_EQ(model.CellText(1, 1), L"Quillfern 1.3.0.0 [spoofed]");
  EXPECT_TRUE(model.Rows()[0].bold);
  EXPECT_FALSE(model.Rows()[1].bold);

  // A torrent known only by its info-hash has no pieces: no "%" at all
  // rather than a division by zero.
  model.Refresh({seed, leech}, 0, 2000, false);
  EXPECT_EQ(model.CellText(1, 2), L"");
  EXPECT_EQ(model.CellText(0, 2), L"Seed");
}

TEST(PeersModel, RowsAreKeyedByAddressAndPortAndUpdatedInPlace) {
  PeersModel model;
  // Two peers behind one NAT.
  const address a(192, 168, 7, 9, 51413), b(192, 168, 7, 9, 6881);
  EXPECT_TRUE(model.Refresh({Peer(a, 100), Peer(b, 200)}, 1, 1000, false));
  ASSERT_EQ(model.Rows().size(), 2u);
  model.Select(1);
  EXPECT_FALSE(model.Refresh({Peer(a, 300), Peer(b, 400)}, 1, 2000, false));
  ASSERT_EQ(model.Rows().size(), 2u);
  EXPECT_EQ(model.Rows()[0].info.total_download, 300);
  EXPECT_EQ(model.Rows()[1].info.total_download, 400);
  // The selection follows its peer through a re-sort.
  model.SetSort(3, -1);
  model.Sort();
  EXPECT_EQ(model.Selected(), std::optional<std::size_t>(0));
  EXPECT_TRUE(model.Refresh({Peer(a, 1)}, 1, 3000, true));
  EXPECT_EQ(model.Rows().size(), 1u);
  EXPECT_EQ(model.Selected(), std::nullopt);
}

TEST(PeersModel, EveryColumnSortsShuffledRowsTheSameWayInBothOrders) {
  // Rows with many ties in every column.
  std::vector<peer_info> peers;
  for (int i = 0; i < 24; ++i) {
    peer_info p = Peer(address(10, 0, std::uint8_t(i % 3), std::uint8_t(i % 4), std::uint16_t(1000 + i % 2 + 2 * (i / 12))),
                       (i % 5) * 1000, i % 2 == 0, i % 3 == 0);
    p.total_upload = (i % 4) * 10;
    p.up_speed = float(i % 3);
    p.down_speed = i == 7 ? std::nanf("") : float(i % 2);
    p.seed = i % 6 == 0;
    if (i % 4 == 1) p.pid = engine::peer_id::from_bytes("-TR2840-abcdefghijkl");
    peers.push_back(p);
  }
  std::mt19937 rng(42);
  for (int column = 0; column < client::kPeerColumnCount; ++column) {
    std::vector<address> ascending;
    for (int direction : {1, -1}) {
      std::vector<address> first;
      for (int round = 0; round < 5; ++round) {
        std::shuffle(peers.begin(), peers.end(), rng);
        PeersModel model;
        model.Refresh(peers, 8, 1000, false);
        ASSERT_EQ(model.Rows().size(), 24u);
        model.SetSort(column, direction);
        model.Sort();
        const auto& rows = model.Rows();
        for (std::size_t i = 0; i < rows.size(); ++i)
          for (std::size_t j = 0; j < rows.size(); ++j) {
            const int ab = model.Compare(rows[i], rows[j]), ba = model.Compare(rows[j], rows[i]);
            ASSERT_EQ(ab > 0, ba < 0) << "column " << column;
            ASSERT_EQ(ab == 0, i == j) << "column " << column;
            ASSERT_EQ(ab < 0, i < j) << "column " << column;
          }
        if (round == 0) first = Order(model);
        EXPECT_EQ(Order(model), first) << "column " << column << " direction " << direction;
      }
      if (direction == 1) {
        ascending = first;
      } else {
        EXPECT_TRUE(std::equal(first.begin(), first.end(), ascending.rbegin())) << "column " << column;
      }
    }
  }

  // Clicking "Sent" twice sorts by it one way, then the other.
  PeersModel model;
  peer_info small = Peer(address(10, 0, 0, 1, 1)), large = Peer(address(10, 0, 0, 2, 1));
  small.total_upload = 5;
  large.total_upload = 500;
  model.Refresh({large, small}, 1, 1000, false);
  model.ClickColumn(4);
  EXPECT_EQ(Order(model), (std::vector<address>{small.ip, large.ip}));
  model.ClickColumn(4);
  EXPECT_EQ(model.SortDirection(), -1);
  EXPECT_EQ(Order(model), (std::vector<address>{large.ip, small.ip}));
  model.ClickColumn(0);
  EXPECT_EQ(model.SortDirection(), 1);
  EXPECT_EQ(Order(model), (std::vector<address>{small.ip, large.ip}));
}

TEST(PeersModel, RowsFadeAndAreDroppedAfterNinetySecondsAtATenthTick) {
  client_test::FakeTorrentControl fake;
  client_test::FakeTorrent engine_torrent;
  engine_torrent.status.pieces.assign(10, false);
  const client::TorrentHandle handle = fake.Put(fake.Hash(1), engine_torrent);
  const peer_info stays = Peer(address(10, 0, 0, 1, 1), 0, false, false), goes = Peer(address(10, 0, 0, 2, 1));
  fake.At(fake.Hash(1)).peers = {stays, goes};

  PeersModel model;
  EXPECT_TRUE(model.Tick(handle, 1000000, true));
  ASSERT_EQ(model.Rows().size(), 2u);
  fake.At(fake.Hash(1)).peers = {stays};
  const auto colors = [&](std::uint32_t age_ms) {
    model.Tick(handle, 1000000 + age_ms);
    return model.Colors(1, false, false);
  };
  auto c = colors(29900);
  EXPECT_EQ(c.text[0], 0x000000u);
  EXPECT_EQ(c.text[5], 0xC80000u);
  EXPECT_EQ(c.text[6], 0x0000C8u);
  EXPECT_EQ(c.text[8], 0x000000u);  // we opened the connection
  EXPECT_EQ(model.Colors(0, false, false).text[8], 0x00C800u);
  EXPECT_EQ(c.background, 0xE6E6E6u);
  EXPECT_EQ(model.Colors(0, false, false).background, 0xFFFFFFu);
  c = colors(45000);
  EXPECT_EQ(c.text[0], 0x969696u);
  c = colors(61000);
  EXPECT_EQ(c.text[0], 0xB4B4B4u);
  EXPECT_EQ(c.text[5], 0xFFB4B4u);
  EXPECT_EQ(c.text[6], 0xB4B4FFu);
  // 91 s: still there until a tenth tick comes.
  c = colors(91000);
  EXPECT_EQ(model.Rows().size(), 2u);
  int ticks = 5;
  while (model.Rows().size() == 2 && ticks < 20) {
    model.Tick(handle, 1000000 + 91000 + std::uint32_t(ticks) * 1000);
    ++ticks;
  }
  EXPECT_EQ(ticks, 10);
  ASSERT_EQ(model.Rows().size(), 1u);
  EXPECT_EQ(model.Rows()[0].info.ip, stays.ip);

  // With "remove inactive peers" off nothing goes.
  fake.At(fake.Hash(1)).peers = {goes};
  model.remove_inactive = false;
  model.Tick(handle, 2000000);
  fake.At(fake.Hash(1)).peers = {};
  for (int i = 0; i < 20; ++i) model.Tick(handle, 2000000 + std::uint32_t(i) * 10000);
  EXPECT_EQ(model.Rows().size(), 2u);
  // Selected rows are drawn in the selection's colours.
  EXPECT_EQ(model.Colors(0, true, false).background, 0x6464FFu);
  EXPECT_EQ(model.Colors(0, true, true).text[3], 0x00FFFFu);

  // A torrent that is gone lists nothing and the tick does not throw.
  fake.At(fake.Hash(1)).gone = true;
  EXPECT_FALSE(model.Tick(handle, 3000000, true) && !model.Rows().empty());
  EXPECT_TRUE(model.Rows().empty());
}

TEST(PeersModel, MenuBansAndChat) {
  client_test::FakeTorrentControl fake;
  const client::TorrentHandle handle = fake.Put(fake.Hash(2));
  const peer_info chatty = Peer(address(1, 2, 3, 4, 6881), 0, true), mute = Peer(address(1, 2, 3, 9, 6881));
  const peer_info elsewhere = Peer(address(1, 2, 4, 4, 6881));
  fake.At(fake.Hash(2)).peers = {chatty, mute, elsewhere};
  PeersModel model;
  model.Tick(handle, 5000, true);
  ASSERT_EQ(Order(model), (std::vector<address>{chatty.ip, mute.ip, elsewhere.ip}));

  auto menu = model.Menu(0);
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[0].id, id::kMenuChat);
  EXPECT_EQ(menu[0].text, "Chat");
  EXPECT_EQ(menu[1].text, "Ban 1.2.3.4");
  EXPECT_TRUE(menu[1].is_default);
  EXPECT_EQ(menu[2].text, "Ban 1.2.3.*");
  EXPECT_EQ(model.Menu(1).size(), 2u);  // no chat without the extension protocol

  EXPECT_TRUE(PeersModel::SendChat(handle, chatty.ip, L"gr\u00FC\u00DF dich"));
  EXPECT_FALSE(PeersModel::SendChat(handle, mute.ip, L"no chat there"));
  EXPECT_FALSE(PeersModel::SendChat(handle, chatty.ip, L""));
  ASSERT_EQ(fake.At(fake.Hash(2)).chats.size(), 1u);
  EXPECT_EQ(fake.At(fake.Hash(2)).chats[0].first, chatty.ip);
  EXPECT_EQ(fake.At(fake.Hash(2)).chats[0].second, "gr\xC3\xBC\xC3\x9F dich");

  std::vector<std::pair<std::string, address>> bans;
  const client::PeerBans sink{[&](const address& a) { bans.emplace_back("peer", a); },
                              [&](const address& a) { bans.emplace_back("range", a); }};
  model.RunMenu(1, id::kMenuBanRange, sink);
  EXPECT_EQ(bans, (std::vector<std::pair<std::string, address>>{{"range", mute.ip}}));
  EXPECT_TRUE(model.Rows()[0].banned);
  EXPECT_TRUE(model.Rows()[1].banned);
  EXPECT_FALSE(model.Rows()[2].banned);
  EXPECT_EQ(model.Colors(0, false, false).background, 0x7D7DFFu);
  EXPECT_EQ(model.Colors(1, false, false).background, 0x6464E6u);
  // A banned row offers no bans any more.
  menu = model.Menu(0);
  ASSERT_EQ(menu.size(), 1u);
  EXPECT_EQ(menu[0].id, id::kMenuChat);
  model.RunMenu(2, id::kMenuBan, sink);
  EXPECT_EQ(bans.back(), (std::pair<std::string, address>{"peer", elsewhere.ip}));
  EXPECT_TRUE(model.Rows()[2].banned);

  fake.At(fake.Hash(2)).gone = true;
  EXPECT_FALSE(PeersModel::SendChat(handle, chatty.ip, L"gone"));
}

TEST(PeersModel, SettingsAndTheStoredWindowRectangle) {
  // A negative edge is a small number, not a huge one.
  EXPECT_EQ(client::ClampPeersDialogRect({-50, 20, -10, 300}, {1024, 768}), (client::Rect{0, 20, 100, 300}));
  EXPECT_EQ(client::ClampPeersDialogRect({100, -30, 500, -5}, {1024, 768}), (client::Rect{100, 0, 500, 100}));
  EXPECT_EQ(client::ClampPeersDialogRect({2000, 900, 2100, 1000}, {1024, 768}), (client::Rect{924, 668, 2100, 1000}));
  EXPECT_EQ(client::ClampPeersDialogRect({10, 10, 20, 20}, {1024, 768}), (client::Rect{10, 10, 110, 110}));

  client_test::temp_folder dir("qf_peers_settings_");
  platform::profile profile(dir / "Quillfern.ini");
  client::PeersSettings s = client::LoadPeersSettings(profile);
  EXPECT_FALSE(s.window);
  EXPECT_TRUE(s.remove_inactive);
  EXPECT_EQ(s.widths[0], 100);
  EXPECT_EQ(s.widths[2], 50);
  EXPECT_EQ(s.sort_column, 0);
  EXPECT_EQ(s.sort_direction, 1);

  profile.WriteProfileInt("Configuration", "Sort Direction", 7);
  profile.WriteProfileInt("Configuration", "Sort Column", 9);
  profile.WriteProfileInt("Configuration", "PI03", 3);
  s = client::LoadPeersSettings(profile);
  EXPECT_EQ(s.sort_direction, 1);
  EXPECT_EQ(s.sort_column, 0);
  EXPECT_EQ(s.widths[3], 10);

  s.remove_inactive = false;
  s.sort_column = 4;
  s.sort_direction = -1;
  s.widths[0] = 120;
  // A window at the screen's edge keeps the stored place.
  client::SavePeersSettings(profile, s, client::Rect{0, 40, 400, 300});
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI Pos Left", -99), -99);
  client::SavePeersSettings(profile, s, client::Rect{30, 40, 400, 300});
  const client::PeersSettings back = client::LoadPeersSettings(profile);
  EXPECT_EQ(back.window, (std::optional<client::Rect>(client::Rect{30, 40, 400, 300})));
  EXPECT_FALSE(back.remove_inactive);
  EXPECT_EQ(back.sort_column, 4);
  EXPECT_EQ(back.sort_direction, -1);
  EXPECT_EQ(back.widths[0], 120);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI00", 0), 120);
}

TEST(PeersModel, ListGeometryHitsColumnsDividersAndRows) {
  client::PeerListGeometry g;
  g.row_height = 18;
  g.widths.fill(50);
  g.widths[0] = 100;
  EXPECT_EQ(g.TotalWidth(), 500);
  EXPECT_EQ(g.ColumnAt(0), 0);
  EXPECT_EQ(g.ColumnAt(99), 0);
  EXPECT_EQ(g.ColumnAt(100), 1);
  EXPECT_EQ(g.ColumnAt(500), -1);
  EXPECT_EQ(g.DividerAt(102, 3), 0);
  EXPECT_EQ(g.DividerAt(125, 3), -1);
  EXPECT_EQ(g.RowAt(35, 3), 1);
  EXPECT_EQ(g.RowAt(54, 3), -1);
  EXPECT_EQ(g.CellRect(2, 1), (client::Rect{100, 36, 150, 54}));
}

TEST(PeersModel, AWatcherHearsOnceThatItsTorrentIsGone) {
  struct Watcher : client::TorrentWatcher {
    int told = 0;
    void TorrentGone(client::TorrentItem&) override { ++told; }
  } kept, removed;
  client_test::FakeTorrentControl fake;
  client_test::RecordingEvents events;
  {
    auto torrent = client_test::MakeTorrent(fake, events, 3);
    torrent->AddWatcher(&kept);
    torrent->AddWatcher(&kept);
    torrent->AddWatcher(&removed);
    torrent->RemoveWatcher(&removed);
  }
  EXPECT_EQ(kept.told, 1);
  EXPECT_EQ(removed.told, 0);
}
