// The checker thread inside a real session: torrents pass their fast-resume
// data or a full check of their files and then run in the session.

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "engine/session/alert_types.h"
#include "engine/session/fast_resume.h"
#include "engine/session/session.h"
#include "engine/storage/piece_manager.h"
#include "tests/engine/session/checked.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/support/wait.h"

using namespace engine;
using namespace std::chrono_literals;
using engine_test::checked;
using test_support::wait_until;
using storage_test::temp_dir;
using storage_test::test_torrent;

namespace {

const fingerprint qf("QF", 0, 1, 0, 0);

std::vector<bool> pieces_of(const torrent_handle& h) {
  const torrent_status st = h.status();
  return st.pieces;
}

std::vector<bool> bits(int n, std::initializer_list<int> set) {
  std::vector<bool> v(static_cast<std::size_t>(n));
  for (int i : set) v[static_cast<std::size_t>(i)] = true;
  return v;
}

// Every alert popped so far, as "kind: text" lines.
struct alert_log {
  explicit alert_log(session& s) : ses(s) {}
  template <class A>
  std::vector<std::string> of() {
    drain();
    std::vector<std::string> out;
    for (const auto& a : alerts)
      if (dynamic_cast<const A*>(a.get())) out.push_back(a->msg());
    return out;
  }
  void drain() {
    while (auto a = ses.pop_alert()) alerts.push_back(std::move(a));
  }
  session& ses;
  std::vector<std::unique_ptr<alert>> alerts;
};

// Keeps a file's size and time while changing its bytes: a change that only
// a full check would notice.
void scribble_unnoticed(const std::filesystem::path& p, std::size_t at) {
  struct ::stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  std::string data = storage_test::read_text(p);
  data[at] = static_cast<char>(~data[at]);
  std::ofstream(p, std::ios::binary) << data;
  timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

// A named pipe in place of a torrent's file: opening it for reading blocks
// the checker until release() lets it go on (at the latest when this object
// goes, which must be before the session).
struct blocking_file {
  explicit blocking_file(std::filesystem::path p) : path(std::move(p)) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  }
  ~blocking_file() { release(); }
  bool release() const {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
  }
  std::filesystem::path path;
};

}  // namespace

TEST(StorageChecker, AFreshTorrentWithoutDataPassesItsCheck) {
  temp_dir dir;
  test_torrent t({{"t/x/a", 5000}, {"t/y/b", 3000}}, 1024);
  session s(qf);
  s.set_severity_level(alert::debug);
  alert_log log(s);
  torrent_handle h = s.add_torrent(t.info, dir.path());
  ASSERT_TRUE(checked(h));
  EXPECT_EQ(pieces_of(h), std::vector<bool>(8, false));
  EXPECT_EQ(h.status().progress, 0.0f);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "t/x"));
  EXPECT_TRUE(log.of<file_error_alert>().empty());
  EXPECT_TRUE(log.of<fastresume_rejected_alert>().empty());
  EXPECT_TRUE(log.of<torrent_finished_alert>().empty());
}

TEST(StorageChecker, ACompleteTorrentIsFoundComplete) {
  temp_dir dir;
  test_torrent t({{"t/a", 5000}, {"t/b", 3000}}, 1024);
  t.lay_down(dir.path());
  session s(qf);
  s.set_severity_level(alert::debug);
  alert_log log(s);
  torrent_handle h = s.add_torrent(t.info, dir.path());
  ASSERT_TRUE(checked(h));
  EXPECT_EQ(pieces_of(h), std::vector<bool>(8, true));
  EXPECT_EQ(h.status().progress, 1.0f);
  EXPECT_EQ(log.of<torrent_finished_alert>(), std::vector<std::string>{"torrent is complete"});
}

TEST(StorageChecker, FastResumeDataSkipsTheCheckInTheNextSession) {
  temp_dir dir;
  test_torrent t({{"t/a", 5000}, {"t/b", 3000}}, 1024);
  t.lay_down(dir.path(), {0, 2, 5});
  entry resume;
  {
    session s(qf);
    torrent_handle h = s.add_torrent(t.info, dir.path());
    ASSERT_TRUE(checked(h));
    EXPECT_EQ(pieces_of(h), bits(8, {0, 2, 5}));
    resume = h.build_resume_data();
    ASSERT_EQ(resume.type(), entry::dictionary_t);
  }
  // A change that only a full check would see: piece 2 stays "had".
  scribble_unnoticed(dir.path() / "t/a", 2 * 1024 + 7);
  std::string bytes;
  bencode(std::back_inserter(bytes), resume);
  session s(qf);
  s.set_severity_level(alert::debug);
  alert_log log(s);
  torrent_handle h = s.add_torrent(t.info, dir.path(), bdecode(bytes));
  ASSERT_TRUE(checked(h));
  EXPECT_EQ(pieces_of(h), bits(8, {0, 2, 5}));
  EXPECT_TRUE(log.of<fastresume_rejected_alert>().empty());
}

TEST(StorageChecker, FinishedBlocksOfUnfinishedPiecesAreKept) {
  temp_dir dir;
  test_torrent t({{"t/a", 8192}}, 4096);  // 2 pieces of 4 blocks of 1 KiB
  entry resume;
  {
    piece_manager pm(t.info, dir.path());
    std::vector<bool> have;
    while (!pm.check_pieces(have).first) {
    }
    pm.write(t.piece(0).data(), 0, 0, 4096);
    pm.write(t.piece(1).data() + 1024, 1, 1024, 1024);
    piece_picker::downloading_piece d;
    d.index = 1;
    d.finished.set(1);
    resume = build_resume_data(t.info, pm, 1024, {d}, {address(10, 1, 2, 3, 7000)});
  }
  session s(qf);
  torrent_handle h = s.add_torrent(t.info, dir.path(), resume, true, 1024);
  ASSERT_TRUE(checked(h));
  const torrent_status st = h.status();
  EXPECT_EQ(st.pieces, bits(2, {0}));
  EXPECT_EQ(st.total_done, 4096 + 1024);
}

TEST(StorageChecker, RejectedDataIsReportedAndTheFilesAreCheckedInstead) {
  temp_dir dir;
  test_torrent t({{"t/a", 4096}}, 1024);
  t.lay_down(dir.path(), {1, 3});
  entry resume;
  {
    session s(qf);
    torrent_handle h = s.add_torrent(t.info, dir.path());
    ASSERT_TRUE(checked(h));
    resume = h.build_resume_data();
  }
  resume["file-version"] = entry::integer_type{2};
  t.lay_down(dir.path(), {0, 1, 3});
  session s(qf);
  s.set_severity_level(alert::debug);
  alert_log log(s);
  torrent_handle h = s.add_torrent(t.info, dir.path(), resume);
  ASSERT_TRUE(checked(h));
  EXPECT_EQ(pieces_of(h), bits(4, {0, 1, 3}));
  EXPECT_EQ(log.of<fastresume_rejected_alert>(), std::vector<std::string>{"incompatible file version 2"});
}

TEST(StorageChecker, BadResumeDataOfEveryKindEndsInAFullCheck) {
  temp_dir dir;
  std::vector<std::function<void(entry&)>> damage = {
      [](entry& rd) { rd["peers"].list().front()["ip"] = std::string("no address"); },
      [](entry& rd) { rd["peers"].list().front()["ip"] = std::string("example.com"); },
      [](entry& rd) { rd["peers"].list().front() = std::string("10.0.0.1"); },
      [](entry& rd) { rd["peers"] = entry::integer_type{5}; },
      [](entry& rd) { rd["slots"] = entry::dictionary_type{}; },
      [](entry& rd) { rd["slots"].list().front() = entry::integer_type{1} << 40; },
      [](entry& rd) { rd["slots"].list().front() = entry::integer_type{3}; },  // piece 3 twice
      [](entry& rd) { rd["unfinished"] = std::string("x"); },
      [](entry& rd) { rd["file sizes"].list().front() = entry::list_type{}; },
      [](entry& rd) { rd["file sizes"].list().front() = std::string("x"); },
      [](entry& rd) { rd["info-hash"] = entry::list_type{}; },
      [](entry& rd) { rd = entry::integer_type{42}; },
      [](entry& rd) { rd = std::string("d4:spam"); },
  };
  session s(qf);
  s.set_severity_level(alert::debug);
  alert_log log(s);
  std::vector<std::pair<torrent_handle, std::unique_ptr<test_torrent>>> added;
  for (std::size_t i = 0; i < damage.size(); ++i) {
    auto t = std::make_unique<test_torrent>(std::vector<std::pair<std::string, std::int64_t>>{{"t", 4096}}, 1024,
                                            static_cast<std::uint32_t>(100 + i));
    const auto folder = dir.path() / std::to_string(i);
    t->lay_down(folder, {0, 3});
    piece_manager pm(t->info, folder);
    std::vector<bool> have;
    while (!pm.check_pieces(have).first) {
    }
    entry rd = build_resume_data(t->info, pm, 1024, {}, {address(10, 0, 0, 1, 6881)});
    damage[i](rd);
    added.emplace_back(s.add_torrent(t->info, folder, rd), std::move(t));
  }
  for (auto& [h, t] : added) {
    ASSERT_TRUE(checked(h));
    EXPECT_EQ(pieces_of(h), bits(4, {0, 3}));
  }
  // Each rejection is reported, and says why.
  const auto reasons = log.of<fastresume_rejected_alert>();
  EXPECT_EQ(reasons.size(), damage.size());
  for (const auto& r : reasons) EXPECT_FALSE(r.empty());
  EXPECT_EQ(std::count(reasons.begin(), reasons.end(), "invalid peer address in fast-resume data: 'example.com'"), 1);
  EXPECT_EQ(std::count(reasons.begin(), reasons.end(), "piece 3 is in more than one slot of the slot map"), 1);
  EXPECT_EQ(std::count(reasons.begin(), reasons.end(), "fast-resume data is not a dictionary"), 2);
}

TEST(StorageChecker, ATorrentRemovedWhileWaitingOrCheckedNeverEntersTheSession) {
  temp_dir dir;
  // The first torrent's file is a named pipe: its check blocks until the
  // test lets it go on.
  test_torrent slow({{"slow.bin", 8192}}, 1024, 1);
  test_torrent waiting({{"w.bin", 4096}}, 1024, 2);
  test_torrent later({{"later.bin", 4096}}, 1024, 3);
  session s(qf);
  const blocking_file pipe(dir.path() / "slow.bin");
  s.set_severity_level(alert::debug);
  alert_log log(s);
  torrent_handle a = s.add_torrent(slow.info, dir.path());
  torrent_handle b = s.add_torrent(waiting.info, dir.path());
  ASSERT_TRUE(wait_until([&] { return a.status().state == checking_files; }));
  EXPECT_EQ(b.status().state, queued_for_checking);
  s.remove_torrent(b);
  EXPECT_FALSE(b.is_valid());
  s.remove_torrent(a);
  ASSERT_TRUE(wait_until([&] { return pipe.release(); }));
  // The checker takes one torrent at a time: once the next one is through,
  // the removed ones are behind it.
  torrent_handle c = s.add_torrent(later.info, dir.path());
  ASSERT_TRUE(checked(c));
  EXPECT_FALSE(a.is_valid());
  EXPECT_FALSE(b.is_valid());
  EXPECT_EQ(s.get_torrents(), std::vector<torrent_handle>{c});
  log.drain();
  EXPECT_TRUE(log.of<file_error_alert>().empty());
}

// Fast-resume data that puts piece 1 into slot 0, for a torrent allocated
// in full: the check brings piece 1 home first, and while it reads the
// piece (from a pipe that blocks) the handle reports the allocation phase.
TEST(StorageChecker, TheAllocationPhaseShowsAsAllocating) {
  temp_dir dir;
  test_torrent t({{"pipe.bin", 4096}}, 1024, 4);
  session s(qf);
  const blocking_file pipe(dir.path() / "pipe.bin");
  s.set_severity_level(alert::debug);
  alert_log log(s);
  struct ::stat st;
  ASSERT_EQ(::stat(pipe.path.c_str(), &st), 0);
  entry rd(entry::dictionary_t);
  rd["file-format"] = std::string("quillfern resume file");
  rd["file-version"] = entry::integer_type{1};
  rd["info-hash"] = t.info.info_hash().to_string();
  rd["slots"] = entry::list_type{entry(entry::integer_type{1})};
  rd["blocks per piece"] = entry::integer_type{1};
  rd["unfinished"] = entry::list_type{};
  rd["file sizes"] = entry::list_type{
      entry(entry::list_type{entry(entry::integer_type{0}), entry(entry::integer_type{st.st_mtim.tv_sec})})};
  torrent_handle h = s.add_torrent(t.info, dir.path(), rd, false);
  ASSERT_TRUE(wait_until([&] { return h.status().state == allocating; }));
  EXPECT_TRUE(log.of<fastresume_rejected_alert>().empty());
  ASSERT_TRUE(wait_until([&] { return pipe.release(); }));
  // The pipe holds no piece: the check ends with a file error.
  EXPECT_TRUE(wait_until([&] { return !log.of<file_error_alert>().empty(); }));
}

TEST(StorageChecker, ATorrentOfEmptyFilesPassesItsCheck) {
  temp_dir dir;
  test_torrent t({{"t/empty", 0}, {"t/also", 0}}, 1024);
  ASSERT_EQ(t.num_pieces(), 0);
  session s(qf);
  torrent_handle h = s.add_torrent(t.info, dir.path());
  ASSERT_TRUE(checked(h));
  EXPECT_EQ(h.status().progress, 1.0f);
  EXPECT_EQ(h.build_resume_data()["slots"], entry(entry::list_type{}));
}

TEST(StorageChecker, RelativeSavePathsStartAtTheInitialFolder) {
  const auto initial = complete_path("x").parent_path();
  temp_dir dir;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    session s(qf);
    test_torrent t({{"r.bin", 100}}, 64, 5);
    torrent_handle h = s.add_torrent(t.info, "relative/folder");
    ASSERT_TRUE(checked(h));
    s.remove_torrent(h);
  }
  std::filesystem::current_path(before);
  EXPECT_TRUE(std::filesystem::is_directory(initial / "relative/folder"));
  std::filesystem::remove_all(initial / "relative");
}
