// The real Quillfern program keeps its torrents across runs: a torrent
// handed over by a second start downloads from a Transmission seed through
// opentracker on loopback; after a close (SIGTERM, the same path as closing
// the window) the next start has it back and seeding without checking its
// files, in list-file mode and in store mode on the MariaDB server; after
// kill -9 in the middle of a download nothing verified is lost and the list
// file is whole.

#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"
#include "program_support.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_torrent_files.h"
#include "tests/engine/tracker/tracker_transmission.h"
#include "tests/store/store_test_support.h"

#include <sys/stat.h>

#include <regex>
#include <set>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

constexpr std::size_t kPieceSize = 1 << 16;
// The engine keeps one peer per address: the program, its seed and its
// leech each announce from a loopback address of their own.
constexpr const char* kSeedAddress = "127.0.0.3";
constexpr const char* kLeechAddress = "127.0.0.2";
// Downloads on a loaded machine take a while; this only ends a hung test.
constexpr auto kTransfer = 300s;

// One payload, its .torrent (made by mktorrent), opentracker and a
// Transmission seed.
struct Swarm {
  tracker_test::temp_dir folder{"qf-e2e-swarm"};
  std::unique_ptr<tracker_test::shared_torrent> torrent;
  std::unique_ptr<tracker_test::transmission> seed;
  std::string payload;  // the payload's bytes

  bool Start(std::size_t size) {
    fs::create_directories(folder.path() + "/seed");
    torrent = std::make_unique<tracker_test::shared_torrent>(folder.path() + "/seed", size, 16);
    if (!torrent->ready()) return false;
    payload = tracker_test::read_file(torrent->payload);
    return StartSeed();
  }
  // The seed has its payload and is on the tracker's list: Transmission
  // announces a moment after its check, and a program that asked before
  // would hear of no seed until its next announce, half an hour later.
  bool StartSeed() {
    seed = std::make_unique<tracker_test::transmission>(folder.path() + "/seed", kSeedAddress);
    return seed->ready() && seed->add(torrent->torrent_file, folder.path() + "/seed") &&
           test_support::wait_until([&] { return seed->percent_done() == 100; }) &&
           test_support::wait_until([&] {
             const auto counts = Counts();
             return counts && counts->first == 1;
           });
  }
  // The seed goes and the tracker forgets every peer: whoever seeds now is
  // the program.
  bool StopSeed() {
    seed.reset();
    return torrent->restart_tracker();
  }

  // Seeds and leeches the tracker counts, asked by a peer of its own that
  // joins with nothing and leaves again; none when it did not answer.
  std::optional<std::pair<int, int>> Counts() const {
    std::string target = "/announce?info_hash=";
    for (const std::uint8_t b : torrent->info_hash) {
      static constexpr char hex[] = "0123456789abcdef";
      target += {'%', hex[b >> 4], hex[b & 15]};
    }
    target += "&peer_id=-QF0100-countingpeer&port=1&uploaded=0&downloaded=0&left=1&compact=1&event=";
    const std::string reply = tracker_test::http_get(torrent->port, target + "started");
    tracker_test::http_get(torrent->port, target + "stopped");
    std::smatch complete, incomplete;
    if (!std::regex_search(reply, complete, std::regex("8:completei([0-9]+)e")) ||
        !std::regex_search(reply, incomplete, std::regex("10:incompletei([0-9]+)e")))
      return std::nullopt;
    // The asking peer counts as a leech.
    return std::pair{std::stoi(complete[1]), std::stoi(incomplete[1]) - 1};
  }
  bool ProgramSeeds() const {
    const auto counts = Counts();
    return counts && counts->first == 1;
  }
  int Leeches() const {
    const auto counts = Counts();
    return counts ? counts->second : -1;
  }

  // The pieces whose bytes lie anywhere in `file` (in whichever slot).
  std::set<int> PiecesIn(const fs::path& file) const {
    std::map<std::string, int> wanted;
    for (std::size_t at = 0, piece = 0; at < payload.size(); at += kPieceSize, ++piece)
      wanted.emplace(Hash(payload.substr(at, kPieceSize)), static_cast<int>(piece));
    const std::string disk = tracker_test::read_file(file.string());
    std::set<int> found;
    for (std::size_t at = 0; at < disk.size(); at += kPieceSize)
      if (const auto it = wanted.find(Hash(disk.substr(at, kPieceSize))); it != wanted.end()) found.insert(it->second);
    return found;
  }
  static std::string Hash(const std::string& bytes) {
    return engine::hasher(bytes.data(), static_cast<int>(bytes.size())).final().to_string();
  }

  // A fresh Transmission that downloads the torrent into `dir`, once it is
  // on the tracker's list.
  std::unique_ptr<tracker_test::transmission> StartLeech(const fs::path& dir) const {
    fs::create_directories(dir);
    auto leech = std::make_unique<tracker_test::transmission>(dir.string(), kLeechAddress);
    if (!leech->ready() || !leech->add(torrent->torrent_file, dir.string())) return nullptr;
    if (!test_support::wait_until([&] { return Leeches() == 1; })) return nullptr;
    return leech;
  }
  // The leech has the whole payload, byte for byte.
  bool LeechDone(const tracker_test::transmission& leech, const fs::path& dir) const {
    const bool done = test_support::wait_until([&] { return leech.percent_done() == 100; }, kTransfer, 100ms);
    return done && tracker_test::read_file((dir / "payload.bin").string()) == payload;
  }
};

timespec AccessTime(const fs::path& file) {
  struct stat st {};
  ::stat(file.c_str(), &st);
  return st.st_atim;
}

// Moves the file's access time an hour back (its modification time stays),
// so that the next read of it shows.
void AgeAccessTime(const fs::path& file) {
  timespec times[2] = {{}, {0, UTIME_OMIT}};
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// Whether reading a file moves its access time here (not with noatime).
bool ReadsShowInAccessTime(const fs::path& folder) {
  const fs::path probe = folder / "atime-probe";
  std::ofstream(probe) << "x";
  AgeAccessTime(probe);
  const timespec before = AccessTime(probe);
  tracker_test::read_file(probe.string());
  return AccessTime(probe).tv_sec != before.tv_sec;
}

struct RestoreProgram : ProgramFixture {
  Swarm swarm;
  // More of what a failure prints (the store's rows in store mode).
  std::function<std::string()> more_report = [] { return std::string(); };
  fs::path Downloads() const { return dir / "downloads"; }
  fs::path Payload() const { return Downloads() / "payload.bin"; }
  fs::path Copy() const { return DataFolder() / "payload.torrent"; }
  fs::path ListFile() const { return DataFolder() / "TorrentQueue.txt"; }

  void SetUp() override {
    ProgramFixture::SetUp();
    if (IsSkipped()) return;
    if (!tracker_test::opentracker::available() || !tracker_test::transmission::available() ||
        !tracker_test::mktorrent_available())
      GTEST_FAIL() << "needs opentracker, transmission-daemon and mktorrent";
    // Seeding to the test's own leech at full speed.
    Profile().WriteProfileInt("Configuration", "MaxUploadRate", -1);
  }

  // A running first instance and its window.
  pid_t StartFirst(const std::string& log_name, const std::vector<std::string>& args = {}) {
    const pid_t pid = Start(args, dir / log_name, dir / "work");
    EXPECT_TRUE(test_support::wait_until([&] { return !Windows(pid).empty(); })) << ReadFile(dir / log_name);
    return pid;
  }
  // The caption starts with `text` (the main timer's figures).
  static bool CaptionShows(pid_t pid, const std::string& text) {
    return !Output("xdotool search --pid " + std::to_string(pid) + " --name '^" + text + "' 2>/dev/null").empty();
  }
  // Ends the program as closing its window does.
  static void Close(pid_t pid) {
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0);
  }
  // Picture of the main window once the caption has its figures.
  static void Shoot(pid_t pid, const std::string& name) {
    EXPECT_TRUE(test_support::wait_until([&] { return CaptionShows(pid, "Quillfern "); }));
    EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow(name); }));
  }
  // Every torrent log of the data folder.
  std::string TorrentLogs() const {
    std::string all;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(DataFolder(), ec)) {
      const std::string name = e.path().filename().string();
      if (name.size() <= 8 || !name.ends_with(".log.txt")) continue;
      std::string text = ReadFile(e.path());
      std::erase(text, '\0');  // the ASCII of UTF-16LE
      all += "\n" + name + ":\n" + text;
    }
    return all;
  }
  std::optional<std::u16string> ListValue(const std::u16string& key) const {
    client::Utf16IniFile ini;
    if (!ini.Load(ListFile())) return std::nullopt;
    return ini.Get(client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(Copy().string()))), key);
  }

  // First run: a second start hands the .torrent over, the first adds it
  // and downloads it whole; then it is closed.
  void DownloadThenClose(const std::string& step) {
    const pid_t first = StartFirst(step + "-1.log");
    Shoot(first, "e2e_" + step + "_started");
    const pid_t second = Start({swarm.torrent->torrent_file}, dir / (step + "-hand-over.log"), dir / "work");
    EXPECT_EQ(WaitExit(second), 0);
    ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(Payload()); })) << ReadFile(dir / (step + "-1.log"));
    ASSERT_TRUE(test_support::wait_until(
        [&] { return tracker_test::read_file(Payload().string()) == swarm.payload; }, kTransfer, 100ms))
        << ReadFile(dir / (step + "-1.log"));
    // The caption's totals catch up with the finished download within a tick.
    EXPECT_TRUE(test_support::wait_until([&] { return CaptionShows(first, "Quillfern 1/4 - [4-9]/0MB"); }));
    Shoot(first, "e2e_" + step + "_downloaded");
    Close(first);
  }

  // Next run: the torrent is back and seeds (the tracker counts the
  // program as its one seed) without having read its files. Then a fresh
  // leech gets the whole payload from it: Transmission does not dial peers
  // on loopback, so it is on the tracker's list first and the program,
  // started once more, dials it.
  // `caption`: what the restored run's caption starts with (a regular
  // expression).
  void SeedsAgainWithoutACheck(const std::string& step, const std::string& caption) {
    ASSERT_TRUE(swarm.StopSeed());
    const bool atime = ReadsShowInAccessTime(Downloads());
    AgeAccessTime(Payload());
    const timespec aged = AccessTime(Payload());
    const pid_t again = StartFirst(step + "-2.log");
    EXPECT_TRUE(test_support::wait_until([&] { return swarm.ProgramSeeds(); }, kTransfer, 100ms))
        << ReadFile(dir / (step + "-2.log"));
    if (atime) {
      EXPECT_EQ(AccessTime(Payload()).tv_sec, aged.tv_sec) << "the files were read: a check";
    }
    EXPECT_TRUE(test_support::wait_until([&] { return CaptionShows(again, caption); }));
    Shoot(again, "e2e_" + step + "_restored");
    Close(again);

    const auto leech = swarm.StartLeech(dir / "leech");
    ASSERT_NE(leech, nullptr);
    const pid_t third = StartFirst(step + "-3.log");
    EXPECT_TRUE(swarm.LeechDone(*leech, dir / "leech"))
        << ReadFile(dir / (step + "-3.log")) << leech->log() << leech->remote_call("-t 1 -i")
        << leech->remote_call("-t 1 -pi") << "seeds/leeches " << swarm.Counts().value_or(std::pair{-1, -1}).first
        << "/" << swarm.Counts().value_or(std::pair{-1, -1}).second << "\nfilter:\n"
        << ReadFile(DataFolder() / "IpAddress.FilterData") << TorrentLogs() << more_report();
    Shoot(third, "e2e_" + step + "_seeding");
    Close(third);
    EXPECT_EQ(tracker_test::read_file(Payload().string()), swarm.payload);
  }
};

TEST_F(RestoreProgram, ListFileModeDownloadsAndSeedsAgainAfterAClose) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  ASSERT_TRUE(swarm.Start(4 << 20));
  DownloadThenClose("list");
  // The list file and the resume data of the close.
  EXPECT_EQ(ListValue(u"Destination"), client::WideToUtf16(client::Utf8ToWide(Downloads().string() + "/")));
  // The row moves a finished torrent to seeding on its next tick; a close
  // just before that tick keeps it downloading. Either way it seeds again.
  const auto status = ListValue(u"Status");
  EXPECT_TRUE(status == u"2" || status == u"3") << (status ? client::WideToUtf8(client::Utf16ToWide(*status)) : "none");
  EXPECT_GE(std::stoull(client::WideToUtf8(client::Utf16ToWide(ListValue(u"Downloaded").value_or(u"0")))),
            swarm.payload.size());
  EXPECT_TRUE(fs::exists(Copy().string() + ".ResumeData"));
  SeedsAgainWithoutACheck("list", "Quillfern 1/4 - [0-9]*/[0-9]*MB - DHT");
}

// The store's tables are shared with the other tests of the server.
using RestoreProgramOnDatabase = RestoreProgram;

TEST_F(RestoreProgramOnDatabase, StoreModeDownloadsAndSeedsAgainAfterAClose) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  store::mysql::set_client_library_path("libmariadb.so.3");
  const auto server = store_test::server_from_environment();
  if (!server) GTEST_FAIL() << "no MariaDB server (QF_MYSQL_HOST/QF_MYSQL_PORT/QF_MYSQL_USER unset); run ./test.sh";
  store_test::raw_connection raw(*server);
  ASSERT_TRUE(raw.ok()) << raw.error();
  for (const char* table : {"torrent_data", "resume_data", "piece_selection", "trackers", "nodes", "ip_filter"})
    ASSERT_TRUE(raw.execute(std::string("TRUNCATE TABLE ") + table)) << raw.error();
  UseDatabase(*server);

  more_report = [&] {
    std::string text = "\nrows (info_hash, name, metainfo bytes, finished, status):\n";
    for (const auto& row : raw.query("SELECT info_hash, name, LENGTH(meta_data), finished, status FROM torrent_data")) {
      for (const auto& cell : row) text += cell.value_or("NULL") + " ";
      text += "\n";
    }
    return text + "trackers: " + std::to_string(raw.count("trackers")) + "\n";
  };
  ASSERT_TRUE(swarm.Start(4 << 20));
  DownloadThenClose("store");
  const std::string hash = swarm.torrent->info_hash.to_hex();
  auto column = [&](const std::string& name) {
    return raw.value("SELECT " + name + " FROM torrent_data WHERE info_hash=UPPER('" + hash + "')").value_or("NULL");
  };
  // Downloading or, once its row has ticked, seeding: as in list-file mode.
  EXPECT_TRUE(column("status") == "2" || column("status") == "3") << column("status");
  EXPECT_EQ(column("destination"), Downloads().string() + "/");
  EXPECT_GE(std::stoull(column("downloaded") == "NULL" ? "0" : column("downloaded")), swarm.payload.size());
  EXPECT_EQ(raw.count("resume_data"), 1u);
  // The metainfo lives in the store alone; no list file is written.
  EXPECT_FALSE(fs::exists(Copy()));
  EXPECT_FALSE(fs::exists(ListFile()));
  SeedsAgainWithoutACheck("store", "Quillfern 1/4 - [0-9]*/[0-9]*MB - DB - DHT");
}

TEST_F(RestoreProgram, KilledInTheMiddleOfADownloadKeepsWhatItVerified) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  ASSERT_TRUE(swarm.Start(8 << 20));
  // A slow seed, so that the download is still under way at the kill.
  swarm.seed->remote_call("-t 1 -u 400");
  const pid_t first = StartFirst("kill-1.log", {swarm.torrent->torrent_file});
  // Written when it was added, before any end of the run.
  ASSERT_TRUE(test_support::wait_until([&] { return ListValue(u"Destination").has_value(); }));
  // The row as it starts: nothing verified yet.
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionShows(first, "Quillfern 1/4 - 0/0MB"); }));
  Shoot(first, "e2e_kill_row_start");
  const std::size_t pieces = (swarm.payload.size() + kPieceSize - 1) / kPieceSize;
  ASSERT_TRUE(test_support::wait_until([&] { return swarm.PiecesIn(Payload()).size() >= pieces / 4; }, kTransfer,
                                       100ms))
      << ReadFile(dir / "kill-1.log");
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionShows(first, "Quillfern 1/4 - [0-9]/0MB"); }));
  Shoot(first, "e2e_kill_downloading");
  ASSERT_EQ(::kill(first, SIGKILL), 0);
  ::waitpid(first, nullptr, 0);
  const std::set<int> verified = swarm.PiecesIn(Payload());
  ASSERT_LT(verified.size(), pieces);
  // Whole: it parses, with its signature and the torrent's section.
  client::Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(ListFile()));
  EXPECT_EQ(ini.GetString(u"Quillfern", u"Tarrow"), u"Velmorathine");
  EXPECT_EQ(ListValue(u"Destination"), client::WideToUtf16(client::Utf8ToWide(Downloads().string() + "/")));

  // Transmission keeps one connection per address and closes a second one
  // from the same address at once: the next run dials the seed once it has
  // let go of the killed run's connection.
  EXPECT_TRUE(test_support::wait_until([&] { return swarm.seed->connected_peers() == 0; }));

  // The next run checks the files, keeps every piece it finds and fetches
  // only the rest.
  swarm.seed->remote_call("-t 1 -U");
  const pid_t again = StartFirst("kill-2.log");
  ASSERT_TRUE(test_support::wait_until(
      [&] { return tracker_test::read_file(Payload().string()) == swarm.payload; }, kTransfer, 100ms))
      << ReadFile(dir / "kill-2.log") << swarm.seed->log() << swarm.seed->remote_call("-t 1 -i")
      << swarm.seed->remote_call("-t 1 -pi") << "pieces on disk " << swarm.PiecesIn(Payload()).size() << " of "
      << pieces << TorrentLogs();
  Shoot(again, "e2e_kill_restarted");
  Close(again);
  // What this run downloaded: at most what was missing (and the blocks of
  // a few pieces that were under way at the kill).
  const std::optional<std::u16string> downloaded = ListValue(u"Downloaded");
  ASSERT_TRUE(downloaded.has_value());
  const std::uint64_t fetched = std::stoull(client::WideToUtf8(client::Utf16ToWide(*downloaded)));
  EXPECT_LE(fetched, (pieces - verified.size() + 4) * kPieceSize) << verified.size() << " of " << pieces;
}

}  // namespace
