// The real Quillfern program with a .torrent whose info dictionary is not
// encoded canonically (its keys out of order, as some programs write them):
// it announces the info-hash of the "info" bytes as they stand, the one
// other clients and trackers know, when it adds the torrent and after a
// restart, from the list file and from the store.

#include "program_support.h"
#include "engine/formats/sha1.h"
#include "engine/formats/text_helpers.h"
#include "engine/formats/torrent_metainfo.h"
#include "tests/engine/tracker/tracker_test_server.h"
#include "tests/store/store_test_support.h"

#include <set>

namespace fs = std::filesystem;
using namespace program_test;

namespace {

struct RawInfoHashProgram : ProgramFixture {
  tracker_test::scripted_server tracker{false, [](const std::string&, int) {
    const std::string body = "d8:intervali1800e5:peers0:e";
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }};
  // "piece length", "name", "length", "pieces": decoded and encoded again
  // the keys are sorted, and the dictionary hashes to another info-hash.
  const std::string info = "d12:piece lengthi16384e4:name7:odd.bin6:lengthi1000e6:pieces20:" +
                           std::string(20, 'p') + "e";
  const engine::sha1_hash raw_hash = engine::hasher(info.data(), static_cast<int>(info.size())).final();
  fs::path source;
  std::string bytes;
  pid_t pid = -1;

  void SetUp() override {
    ProgramFixture::SetUp();
    if (IsSkipped() || HasFailure()) return;
    source = dir / "work" / "odd.torrent";
    const std::string announce = "http://127.0.0.1:" + std::to_string(tracker.port()) + "/announce";
    bytes = "d8:announce" + std::to_string(announce.size()) + ":" + announce + "4:info" + info + "e";
    std::ofstream(source, std::ios::binary) << bytes;
    ASSERT_NE(engine::torrent_metainfo(engine::bdecode(bytes)).info_hash(), raw_hash);
  }

  // The info-hashes of the announces from the `from`-th request on.
  std::set<engine::sha1_hash> Announced(std::size_t from) const {
    std::set<engine::sha1_hash> hashes;
    const std::vector<std::string> requests = tracker.requests();
    for (std::size_t i = from; i < requests.size(); ++i) {
      const std::size_t at = requests[i].find("info_hash=");
      if (at == std::string::npos) continue;
      const std::size_t end = requests[i].find_first_of("& ", at);
      const std::string hash = engine::unescape_string(requests[i].substr(at + 10, end - at - 10));
      if (hash.size() == engine::sha1_hash::size) hashes.insert(engine::sha1_hash::from_bytes(hash));
    }
    return hashes;
  }
  // One run: announces the torrent (under its bytes' hash alone) from the
  // `from`-th request on, and ends as closing its window does.
  void AnnouncesAndCloses(const std::string& run, const std::vector<std::string>& args = {}) {
    const std::size_t from = tracker.requests().size();
    pid = Start(args, dir / (run + ".log"), dir / "work");
    EXPECT_TRUE(test_support::wait_until([&] { return !Announced(from).empty(); })) << ReadFile(dir / (run + ".log"));
    EXPECT_EQ(Announced(from), std::set<engine::sha1_hash>{raw_hash}) << ReadFile(dir / (run + ".log"));
    EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("raw_info_hash_" + run); }));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0) << ReadFile(dir / (run + ".log"));
  }
};

TEST_F(RawInfoHashProgram, ATorrentInAnotherKeyOrderIsAnnouncedUnderItsOwnHashAfterARestartToo) {
  QF_REQUIRE_DISPLAY();
  AnnouncesAndCloses("added", {source.string()});
  // The copy in the data folder is the file as it came.
  EXPECT_EQ(ReadFile(DataFolder() / "odd.torrent"), bytes);
  AnnouncesAndCloses("restored");
}

// The store's tables are shared with the other tests of the server.
using RawInfoHashProgramOnDatabase = RawInfoHashProgram;

TEST_F(RawInfoHashProgramOnDatabase, StoreModeKeepsTheBytesAndTheirHash) {
  QF_REQUIRE_DISPLAY();
  store::mysql::set_client_library_path("libmariadb.so.3");
  const auto server = store_test::server_from_environment();
  if (!server) GTEST_FAIL() << "no MariaDB server (QF_MYSQL_HOST/QF_MYSQL_PORT/QF_MYSQL_USER unset); run ./test.sh";
  store_test::raw_connection raw(*server);
  ASSERT_TRUE(raw.ok()) << raw.error();
  for (const char* table : {"torrent_data", "resume_data", "piece_selection", "trackers", "nodes", "ip_filter"})
    ASSERT_TRUE(raw.execute(std::string("TRUNCATE TABLE ") + table)) << raw.error();
  UseDatabase(*server);

  AnnouncesAndCloses("store_added", {source.string()});
  std::string hex;
  for (char c : raw_hash.to_hex()) hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The row holds the file's bytes under their hash; the metainfo lives in
  // the store alone.
  EXPECT_EQ(raw.query("SELECT info_hash,meta_data FROM torrent_data"), (store_test::rows{{hex, bytes}}));
  EXPECT_FALSE(fs::exists(DataFolder() / "odd.torrent"));
  AnnouncesAndCloses("store_restored");
  EXPECT_EQ(raw.query("SELECT info_hash,meta_data FROM torrent_data"), (store_test::rows{{hex, bytes}}));
}

}  // namespace
