// The peers dialog over real engine sessions on loopback: it lists the
// torrent's peers, a chat text typed into it reaches the other side, a ban
// goes through the program's IP filter and paints the row.
#include "client/torrents/engine_torrent_control.h"
#include "client/files/ip_filter_keeper.h"
#include "client/base/wide_text.h"
#include "client/dialogs/wx/CPeerInfoDialog.h"
#include "client/dialogs/wx/CPeerListenAnsicht.h"
#include "client/dialogs/wx/CPeerNachrichtDialog.h"
#include "engine/session/alert_types.h"
#include "tests/client/temp_folder.h"
#include "tests/client/torrents/torrent_test_support.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/textctrl.h>
#include <wx/weakref.h>

namespace id = client::peers_id;
using engine::address;

namespace {

CPeerNachrichtDialog* ShownMessageDialog() {
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<CPeerNachrichtDialog*>(w); dialog && dialog->IsShownOnScreen()) return dialog;
  return nullptr;
}

// The row's middle, a few pixels in from its left edge, in the rows window.
wxPoint RowPoint(CPeerListenAnsicht* list, std::size_t row, int x = 20) {
  const wxRect r = list->RowRect(row);
  return {r.x + x, r.y + r.height / 2};
}

}  // namespace

TEST(PeersDialog, ListsRealPeersChatsWithOneAndBansIt) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  client_test::temp_folder dir("qf_peers_dialog_");
  const engine::torrent_metainfo info =
      swarm_fixture::make_torrent(dir / "seed", "payload", {{"a.bin", 3000000}, {"b.bin", 70001}}, 32768);
  const auto ih = info.info_hash();

  // A seed on 127.0.0.2, another leech on 127.0.0.4 and our side on
  // 127.0.0.3: we connect to the seed, the other leech connects to us.
  auto seed = swarm_fixture::make_session(2);
  auto other = swarm_fixture::make_session(4);
  auto ours = swarm_fixture::make_session(3);
  seed->set_severity_level(engine::alert::critical);  // chat texts come as critical alerts
  seed->add_torrent(info, dir / "seed").resume();
  ASSERT_TRUE(swarm_fixture::wait_until([&] { return swarm_fixture::is_seed(*seed, ih); }));
  other->add_torrent(info, dir / "other").resume();
  client::EngineTorrentControl control(*ours);
  client_test::RecordingEvents events;
  auto torrent = std::make_unique<client::TorrentItem>(L"/data/payload.torrent", L"payload", events);
  torrent->SetSession(&control);
  torrent->Attach(control.Adopt(ours->add_torrent(info, dir / "ours")));
  // Slowly, so that it stays a leech (two seeds part at once).
  torrent->Handle().set_download_limit(20000);
  torrent->Handle().resume();
  // Peers can be given once the torrent's check is through.
  ASSERT_TRUE(swarm_fixture::wait_until([&] { return swarm_fixture::with_torrent(*ours, ih, [](engine::torrent&) {}); }));
  const address seed_address(127, 0, 0, 2, seed->listen_port());
  torrent->Handle().connect_peer(seed_address);
  ASSERT_TRUE(swarm_fixture::wait_until([&] { return swarm_fixture::with_torrent(*other, ih, [](engine::torrent&) {}); }));
  swarm_fixture::add_peer(*other, ih, address(127, 0, 0, 3, ours->listen_port()));

  client::IpFilterKeeper filter([](const std::wstring&) {});
  filter.CreateFilter();
  filter.SetSession(ours.get());
  const client::PeerBans bans{[&](const address& a) { filter.BanPeer(a); },
                              [&](const address& a) { filter.BanPeerRange(a); }};
  platform::profile profile(dir / "Quillfern.ini");
  client::ScriptedUiServices ui;
  auto* dialog = new CPeerInfoDialog(nullptr, *torrent, L"payload.torrent - Quillfern Peer Info", bans, profile, &ui);
  wxWeakRef<CPeerInfoDialog> alive(dialog);
  dialog->Show();
  dialog->Raise();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); }));
  EXPECT_EQ(dialog->GetTitle(), "payload.torrent - Quillfern Peer Info");
  CPeerListenAnsicht* list = dialog->List();
  client::PeersModel& model = dialog->Model();

  // Both peers are listed, by address (and port), with their chat.
  const auto listed = [&] {
    return model.Rows().size() == 2 && model.CellText(0, 7) == L"Yes" && model.CellText(1, 7) == L"Yes";
  };
  ASSERT_TRUE(gui_test::PumpUntil(listed, std::chrono::seconds(30))) << [&] {
    std::string rows;
    for (std::size_t i = 0; i < model.Rows().size(); ++i)
      for (int c = 0; c < client::kPeerColumnCount; ++c) rows += client::WideToUtf8(model.CellText(i, c)) + (c == 8 ? "\n" : " | ");
    return rows;
  }();
  EXPECT_EQ(model.CellText(0, 0), L"127.0.0.2");
  EXPECT_EQ(model.Rows()[0].info.ip, seed_address);
  EXPECT_EQ(model.CellText(1, 0), L"127.0.0.4");
  EXPECT_EQ(model.CellText(0, 1), L"Quillfern 1.0.0.0");
  EXPECT_EQ(model.CellText(0, 2), L"Seed");
  EXPECT_EQ(model.CellText(0, 8), L"\u25BA");  // we called the seed
  EXPECT_EQ(model.CellText(1, 8), L"\u25C4");  // the other leech called us
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !model.CellText(0, 3).empty(); }, std::chrono::seconds(30)));
  gui_test::PumpFor(std::chrono::milliseconds(300));
  gui_test::Screenshot(dialog, "peers_dialog");

  // A click on the "Sent" header sorts by it, a second one the other way.
  ASSERT_EQ(gui_test::ClickAt(list->HeaderWindow(), list->HeaderRect(4).GetPosition() + wxPoint(20, 8)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return model.SortColumn() == 4 && model.SortDirection() == 1; }));
  // (Elsewhere on the header: xdotool waits for the pointer to move.)
  ASSERT_EQ(gui_test::ClickAt(list->HeaderWindow(), list->HeaderRect(4).GetPosition() + wxPoint(26, 8)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return model.SortDirection() == -1; }));
  ASSERT_EQ(gui_test::ClickAt(list->HeaderWindow(), list->HeaderRect(0).GetPosition() + wxPoint(20, 8)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return model.SortColumn() == 0 && model.SortDirection() == 1; }));

  // Chat: the row's menu, the text typed into the message dialog, "Send".
  bool typed = false;
  wxTimer driver;
  driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    CPeerNachrichtDialog* message = ShownMessageDialog();
    if (!message || typed) return;
    typed = true;
    driver.Stop();
    EXPECT_EQ(message->GetTitle(), "Peer Message - Quillfern");
    wxWindow* edit = message->FindWindow(id::kChatText);
    gui_test::PumpUntil([&] { return wxWindow::FindFocus() == edit; }, std::chrono::seconds(3));
    EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "15", "hello seed"}), 0);
    gui_test::PumpUntil([&] { return static_cast<wxTextCtrl*>(edit)->GetValue() == "hello seed"; });
    gui_test::Screenshot(message, "peers_dialog_chat");
    EXPECT_EQ(gui_test::Click(message->FindWindow(id::kOk)), 0);
    if (message->IsModal() && !gui_test::PumpUntil([&] { return !message->IsModal(); }, std::chrono::seconds(5)))
      message->EndModal(id::kCancel);
  });
  driver.Start(50);
  ui.menu_answers = {id::kMenuChat};
  ASSERT_EQ(gui_test::ClickAt(list->RowsWindow(), RowPoint(list, 0), "1", "3"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return typed && !ShownMessageDialog(); }, std::chrono::seconds(20)));
  driver.Stop();
  ASSERT_EQ(ui.menus_shown.size(), 1u);
  ASSERT_EQ(ui.menus_shown[0].size(), 3u);
  EXPECT_EQ(ui.menus_shown[0][0].text, "Chat");
  EXPECT_EQ(ui.menus_shown[0][1].text, "Ban 127.0.0.2");
  EXPECT_EQ(ui.menus_shown[0][2].text, "Ban 127.0.0.*");
  std::string chat;
  ASSERT_TRUE(gui_test::PumpUntil([&] {
    while (auto alert = seed->pop_alert())
      if (auto* message = dynamic_cast<engine::chat_message_alert*>(alert.get())) chat = message->msg();
    return !chat.empty();
  }));
  EXPECT_EQ(chat, "hello seed");

  // Ban: the filter blocks the seed and the engine drops it; the row stays
  // (fading) and is painted red once it is no longer selected.
  ui.menu_answers = {id::kMenuBan};
  ASSERT_EQ(gui_test::ClickAt(list->RowsWindow(), RowPoint(list, 0), "1", "3"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return model.Rows()[0].banned; }));
  ASSERT_NE(filter.Filter(), nullptr);
  EXPECT_EQ(filter.Filter()->access(seed_address), engine::ip_filter::blocked);
  EXPECT_FALSE(model.Rows()[1].banned);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return torrent->Handle().get_peer_info().size() == 1; },
                                  std::chrono::seconds(30)));
  // A click below the rows clears the selection.
  ASSERT_EQ(gui_test::ClickAt(list->RowsWindow(), RowPoint(list, 3)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !model.Selected(); }));
  const wxPoint in_row = list->RowsWindow()->ClientToScreen(RowPoint(list, 0, 2)) - dialog->GetScreenPosition();
  const wxImage shot = gui_test::CaptureUntil(dialog, [&](const wxImage& image) {
    return gui_test::PixelAt(image, in_row.x, in_row.y) == gui_test::Rgb8{0xFF, 0x7D, 0x7D};
  });
  EXPECT_EQ(gui_test::PixelAt(shot, in_row.x, in_row.y), (gui_test::Rgb8{0xFF, 0x7D, 0x7D}));
  gui_test::Screenshot(dialog, "peers_dialog_banned");
  // Its menu offers no bans any more.
  ui.menu_answers = {0};
  ASSERT_EQ(gui_test::ClickAt(list->RowsWindow(), RowPoint(list, 0), "1", "3"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return ui.menus_shown.size() == 3; }));
  ASSERT_EQ(ui.menus_shown[2].size(), 1u);
  EXPECT_EQ(ui.menus_shown[2][0].text, "Chat");

  // The torrent goes: so does its dialog.
  torrent.reset();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !alive; }));
}

TEST(PeersDialog, OneDialogPerTorrentPlacedOnScreenAndOkSavesItsSettings) {
  QF_REQUIRE_DISPLAY();
  client_test::temp_folder dir("qf_peers_settings_dialog_");
  platform::profile::set_application_file(dir / "Quillfern.ini");
  platform::profile profile = platform::profile::application();
  // A negative right edge once made the window enormous.
  profile.WriteProfileInt("Configuration", "PI Pos Left", -40);
  profile.WriteProfileInt("Configuration", "PI Pos Top", 30);
  profile.WriteProfileInt("Configuration", "PI Pos Right", -2);
  profile.WriteProfileInt("Configuration", "PI Pos Bottom", 420);
  profile.WriteProfileInt("Configuration", "Sort Column", 3);
  profile.WriteProfileInt("Configuration", "PI Remove Inactive", 0);

  client_test::FakeTorrentControl fake;
  client_test::RecordingEvents events;
  client_test::FakeTorrent engine_torrent;
  engine_torrent.metadata = false;  // known only by its info-hash
  auto torrent = client_test::MakeTorrent(fake, events, 1, client::TorrentStatus::Queued, engine_torrent);
  engine::peer_info peer;
  peer.ip = address(10, 1, 2, 3, 6881);
  peer.seed = false;
  peer.pieces = {true, true};
  fake.At(fake.Hash(1)).peers = {peer};

  CPeerInfoDialog* dialog = ShowPeersDialog(nullptr, *torrent, L"t1.torrent - Quillfern Peer Info", {});
  wxWeakRef<CPeerInfoDialog> alive(dialog);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); }));
  EXPECT_EQ(CPeerInfoDialog::Of(*torrent), dialog);
  const wxRect placed = dialog->GetRect();
  EXPECT_EQ(placed.x, 0);
  EXPECT_EQ(placed.y, 30);
  EXPECT_LE(placed.width, 1280);
  EXPECT_EQ(placed.height, 390);
  EXPECT_EQ(dialog->Model().SortColumn(), 3);
  EXPECT_FALSE(dialog->Model().remove_inactive);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->Model().Rows().size() == 1; }));
  // No pieces known: the "%" cell stays empty.
  EXPECT_EQ(dialog->Model().CellText(0, 2), L"");

  // Cancel hides it and saves nothing; the menu entry shows it again.
  wxCommandEvent cancel(wxEVT_BUTTON, id::kCancel);
  dialog->GetEventHandler()->ProcessEvent(cancel);
  EXPECT_FALSE(dialog->IsShown());
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI00", -1), -1);
  EXPECT_EQ(ShowPeersDialog(nullptr, *torrent, L"t1.torrent - Quillfern Peer Info", {}), dialog);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); }));

  dialog->SetSize(120, 80, 500, 300);
  gui_test::PumpFor(std::chrono::milliseconds(100));
  wxCommandEvent ok(wxEVT_BUTTON, id::kOk);
  dialog->GetEventHandler()->ProcessEvent(ok);
  EXPECT_FALSE(dialog->IsShown());
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI Pos Left", 0), 120);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI Pos Bottom", 0), 380);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Sort Column", -1), 3);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI Remove Inactive", -1), 0);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "PI08", 0), 50);

  torrent.reset();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !alive; }));
  platform::profile::set_application_file({});
}
