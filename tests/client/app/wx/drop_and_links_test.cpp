// Drops on the main window with the real engine: a local .torrent and a
// link served on loopback arrive in one "text/uri-list"; the file is added
// at once, the link downloaded on a worker and then added. Closing the
// window ends its downloads and removes their folder.

#include "client/torrents/wx/CPlatsch.h"
#include "client/app/wx/CTorrentAnzeige.h"
#include "platform/profile.h"
#include "tests/client/adder_test_support.h"
#include "tests/client/net/http_test_server.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/dataobj.h>
#include <wx/weakref.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using client_test::http_test_server;

namespace {

// The data of a drop as GTK hands it over at the drop.
class ScriptedDrop : public CPlatsch {
 public:
  ScriptedDrop(wxWindow* window, client::TorrentAdder& adder, std::string data)
      : CPlatsch(window, adder), m_data(std::move(data)) {}
  bool GetData() override {
    static_cast<wxCustomDataObject*>(GetDataObject())->SetData(m_data.size(), m_data.data());
    return true;
  }

 private:
  std::string m_data;
};

struct DropFixture : ::testing::Test {
  client_test::temp_folder dir{"qf_drop_"};
  platform::profile profile{dir / "Quillfern.ini"};

  void SetUp() override {
    platform::profile::set_application_file(dir / "Quillfern.ini");
    Put("Torrents", (dir / "Torrents").string());
    Put("MinPort", 0);  // any free port
    Put("MaxPort", 0);
    Put("DHTPort", 0);
    Put("Intervall", 40);
    // New torrents go to a folder of the test's without asking.
    fs::create_directories(dir / "saved");
    Put("ASDMode", 0);
    Put("ASDSingle", (dir / "saved").string() + "/");
  }
  void TearDown() override { platform::profile::set_application_file({}); }
  void Put(const char* key, int value) { profile.WriteProfileInt("Configuration", key, value); }
  void Put(const char* key, const std::string& value) { profile.WriteProfileString("Configuration", key, value); }
};

TEST_F(DropFixture, AFileAndALinkDroppedTogetherAreBothAdded) {
  QF_REQUIRE_DISPLAY();
  const std::string linked = client_test::TorrentBytes("linked.bin", 40000);
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    if (path == "/get?id=linked") c.reply("200 OK", "", linked);
  });
  const fs::path local = dir.put("local file.torrent", client_test::TorrentBytes("local.bin", 30000));

  auto* window = new CTorrentAnzeige(profile);
  ASSERT_TRUE(window->Create({40, 40, 540, 340}));
  window->Show();
  ASSERT_NE(window->Core().Session(), nullptr);
  ASSERT_NE(dynamic_cast<CPlatsch*>(window->ClientArea()->GetDropTarget()), nullptr);

  // As a file manager and a browser send them, NUL-terminated.
  const std::string uri_list = "file://" + (dir / "local%20file.torrent").string() + "\r\n" +
                               server.url("/get?id=linked") + "\r\n" + std::string(1, '\0');
  auto* target = new ScriptedDrop(window, window->Core().Adder(), uri_list);
  window->ClientArea()->SetDropTarget(target);
  EXPECT_EQ(target->OnData(10, 10, wxDragCopy), wxDragCopy);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->Core().List().Count() == 2; }));
  const fs::path data = dir / "Torrents";
  EXPECT_EQ(client_test::temp_folder::read(data / "local file.torrent"), client_test::temp_folder::read(local));
  EXPECT_EQ(client_test::temp_folder::read(data / "linked.torrent"), linked);
  EXPECT_TRUE(fs::exists(local));  // a dropped file stays where it was
  const fs::path downloads = window->Core().Adder().download_folder;
  EXPECT_TRUE(fs::is_directory(downloads));
  EXPECT_EQ(fs::directory_iterator(downloads), fs::directory_iterator());  // the download went once added
  ASSERT_EQ(server.requests().size(), 1u);

  gui_test::PumpFor(std::chrono::milliseconds(100));
  gui_test::Screenshot(window, "quillfern_drop_file_and_link");

  wxWeakRef<CTorrentAnzeige> ref(window);
  window->Close();
  EXPECT_TRUE(gui_test::PumpUntil([&] { return !ref; }));
  EXPECT_FALSE(fs::exists(downloads));
}

TEST_F(DropFixture, ClosingTheWindowEndsARunningDownload) {
  QF_REQUIRE_DISPLAY();
  std::atomic<bool> client_closed{false};
  http_test_server server([&](const std::string&, http_test_server::connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'd'));
    client_closed = c.wait_closed();  // the rest never comes
  });
  auto* window = new CTorrentAnzeige(profile);
  ASSERT_TRUE(window->Create({40, 40, 540, 340}));
  window->Show();
  ASSERT_TRUE(window->OpenTorrentUrl(server.url("/slow.torrent")));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->Model().notice_text.ends_with(L"1000/100000 bytes"); }));

  wxWeakRef<CTorrentAnzeige> ref(window);
  window->Close();
  EXPECT_TRUE(gui_test::PumpUntil([&] { return !ref; }));
  EXPECT_TRUE(client_test::wait_until([&] { return client_closed.load(); }));
  gui_test::PumpFor(std::chrono::milliseconds(100));  // nothing arrives for the window that is gone
}

}  // namespace
