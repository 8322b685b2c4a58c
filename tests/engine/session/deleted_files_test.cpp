// A download whose folder is deleted under it: the torrent stops with an
// error naming the file, its fast-resume data is refused at the next start,
// and the files are checked and fetched again until they match the seed's.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/session/alert_types.h"
#include "tests/engine/session/checked.h"
#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using namespace swarm_fixture;

namespace {

// Every alert popped so far.
struct alerts {
  explicit alerts(engine::session& s) : ses(s) {}
  template <class A>
  std::vector<std::string> of() {
    while (auto a = ses.pop_alert()) seen.push_back(std::move(a));
    std::vector<std::string> out;
    for (const auto& a : seen)
      if (dynamic_cast<const A*>(a.get())) out.push_back(a->msg());
    return out;
  }
  engine::session& ses;
  std::vector<std::unique_ptr<engine::alert>> seen;
};

int pieces_had(engine::session& s, const engine::sha1_hash& ih) {
  int n = 0;
  with_torrent(s, ih, [&](engine::torrent& t) { n = t.num_have(); });
  return n;
}

}  // namespace

// 4 x 12 MiB in 768 pieces; the leech's folder goes at three quarters.
TEST(DeletedFiles, FolderRemovedMidDownloadStopsTheTorrentAndTheRestartFetchesItAgain) {
  scratch_dir dir("qf_deleted_");
  const std::int64_t mib = 1024 * 1024;
  const std::vector<file_spec> files{{"a.bin", 12 * mib}, {"b.bin", 12 * mib}, {"c.bin", 12 * mib}, {"d.bin", 12 * mib}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 65536);
  ASSERT_EQ(info.num_pieces(), 768);
  const auto ih = info.info_hash();
  const fs::path target = dir.path / "leech";

  auto seed = make_session(2);
  ASSERT_TRUE(seed->is_listening());
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  const engine::address seed_at(127, 0, 0, 2, seed->listen_port());

  engine::entry resume;
  {
    auto leech = make_session(3);
    leech->set_severity_level(engine::alert::debug);
    alerts log(*leech);
    // Slow enough that three quarters are seen before the end.
    leech->set_download_rate_limit(int(8 * mib));
    engine::torrent_handle h = leech->add_torrent(info, target);
    h.resume();
    ASSERT_TRUE(engine_test::checked(h));
    add_peer(*leech, ih, seed_at);
    ASSERT_TRUE(wait_until([&] { return pieces_had(*leech, ih) >= 768 * 3 / 4; }, std::chrono::seconds(120)));
    ASSERT_FALSE(is_seed(*leech, ih));
    fs::remove_all(target);

    ASSERT_TRUE(wait_until([&] { return !log.of<engine::file_error_alert>().empty(); }));
    const std::string error = log.of<engine::file_error_alert>().front();
    EXPECT_NE(error.find((fs::path("payload") / "").string()), std::string::npos) << error;
    EXPECT_NE(error.find(".bin"), std::string::npos) << error;
    EXPECT_TRUE(h.status().paused);
    EXPECT_TRUE(log.of<engine::torrent_finished_alert>().empty());
    resume = h.build_resume_data();
    ASSERT_EQ(resume.type(), engine::entry::dictionary_t);
  }
  EXPECT_FALSE(fs::exists(target / "payload"));
  fs::create_directories(target);

  auto leech = make_session(3);
  leech->set_severity_level(engine::alert::debug);
  alerts log(*leech);
  engine::torrent_handle h = leech->add_torrent(info, target, resume);
  h.resume();
  ASSERT_TRUE(engine_test::checked(h));
  ASSERT_EQ(log.of<engine::fastresume_rejected_alert>().size(), 1u);
  EXPECT_NE(log.of<engine::fastresume_rejected_alert>().front().find("payload"), std::string::npos);
  // Nothing of the lost data is taken as had.
  EXPECT_EQ(pieces_had(*leech, ih), 0);
  EXPECT_TRUE(log.of<engine::torrent_finished_alert>().empty());
  add_peer(*leech, ih, seed_at);
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }, std::chrono::seconds(120)));
  EXPECT_EQ(log.of<engine::torrent_finished_alert>().size(), 1u);
  EXPECT_TRUE(log.of<engine::file_error_alert>().empty());
  leech.reset();
  seed.reset();
  EXPECT_TRUE(same_files(dir.path / "seed" / "payload", target / "payload", files));
}

// A download that moves nothing (its one peer lacks the last piece, and
// has nothing more to give) while its folder goes: the look at its open
// files finds it all the same.
TEST(DeletedFiles, AStalledDownloadNoticesItsFolderIsGone) {
  scratch_dir dir("qf_deleted_");
  const std::vector<file_spec> files{{"a.bin", 1024 * 1024}, {"b.bin", 1024 * 1024}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 16384);
  const auto ih = info.info_hash();
  {
    std::fstream last(dir.path / "seed" / "payload" / "b.bin", std::ios::in | std::ios::out | std::ios::binary);
    last.seekg(-1, std::ios::end);
    const char byte = char(last.get());
    last.seekp(-1, std::ios::end);
    last.put(char(byte ^ 1));
  }
  auto seed = make_session(2);
  engine::torrent_handle partial = seed->add_torrent(info, dir.path / "seed");
  partial.resume();
  ASSERT_TRUE(engine_test::checked(partial));
  ASSERT_EQ(pieces_had(*seed, ih), info.num_pieces() - 1);
  auto leech = make_session(3);
  leech->set_severity_level(engine::alert::debug);
  alerts log(*leech);
  engine::torrent_handle h = leech->add_torrent(info, dir.path / "leech");
  h.resume();
  ASSERT_TRUE(engine_test::checked(h));
  add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return pieces_had(*leech, ih) == info.num_pieces() - 1; }));
  // What was received is on disk, and nothing more is to come.
  with_torrent(*leech, ih, [](engine::torrent& t) { t.wait_for_disk(); });
  ASSERT_EQ(h.status().num_peers, 1);
  fs::remove_all(dir.path / "leech");
  ASSERT_TRUE(wait_until([&] { return !log.of<engine::file_error_alert>().empty(); }));
  EXPECT_NE(log.of<engine::file_error_alert>().front().find("No such file or directory"), std::string::npos);
  EXPECT_TRUE(h.status().paused);
}
