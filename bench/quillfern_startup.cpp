// Start-up of the Quillfern program with many saved torrents: a data folder
// of N torrents (4 MiB each, nothing on disk yet, all "Downloading") and
// their list file; the program is started on the X server of $DISPLAY (with
// $XAUTHORITY, when set) with folders of its own under $TMPDIR (else /tmp).
// Measured: the time from the start to the first paint of the main window
// (the restore runs before the window is shown), then the CPU time and
// resident memory of the running program over a quiet span. At the end it
// is closed with SIGTERM and its list file is counted.
//
//   quillfern_startup [torrents=200,1000,2000] [idle seconds=30] [program=build/client/Quillfern] [active=0]
//                     [rounds=1]
//
// TORRENTS is one count or a comma-separated list of them; each is measured
// ROUNDS times and the medians are printed, then a table of all counts.

#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"
#include "platform/profile.h"
#include "tests/gui_support/x11_capture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// utime + stime of the process, in seconds.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A line of /proc/<pid>/status in kB ("VmRSS", "VmHWM").
long status_kb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  return -1;
}

// The main window covers 20,20 to 420,220 without a position in the
// profile: painted once its middle and its left edge are not black.
bool window_painted() {
  std::vector<std::uint8_t> rgb;
  if (!gui_test::CaptureRootRect(20, 20, 400, 200, rgb)) return false;
  auto lit = [&](int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * 400 + static_cast<std::size_t>(x)) * 3;
    return rgb[i] || rgb[i + 1] || rgb[i + 2];
  };
  return lit(200, 100) && lit(0, 100);
}

std::string torrent_file(int n) {
  engine::torrent_metainfo info;
  info.set_piece_size(1 << 16);
  info.add_file("payload " + std::to_string(n) + ".bin", 4 << 20);
  for (int p = 0; p < info.num_pieces(); ++p) {
    const std::string seed = std::to_string(n) + "/" + std::to_string(p);
    info.set_hash(p, engine::hasher(seed.data(), static_cast<int>(seed.size())).final());
  }
  info.add_tracker("http://127.0.0.1:1/announce");
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), info.build_torrent_dictionary());
  return bytes;
}


struct figures {
  double first_paint = 0;      // seconds
  double startup_cpu = 0;      // seconds
  long startup_rss = 0;        // KiB
  double idle_cpu_share = 0;   // of one core, in %
  long rss = 0;                // KiB, after the quiet span
  long peak = 0;               // KiB
  double shutdown = 0;         // seconds from SIGTERM to the exit
  int exit_status = -1;
  int sections = 0;            // of the list file written at the end
};

std::string list_section(const fs::path& data, int n) {
  char name[32];
  std::snprintf(name, sizeof name, "t%03d.torrent", n);
  return (data / name).string();
}

// Removes the rounds' folders at the end of the run.
struct folders_to_remove : std::vector<fs::path> {
  ~folders_to_remove() {
    std::error_code ec;
    for (const fs::path& dir : *this) fs::remove_all(dir, ec);
  }
};
folders_to_remove finished_folders;

// One start, quiet span and close of the program with `count` saved
// torrents; false when it showed no window.
bool run_once(int count, int idle_seconds, const std::string& program, int active, figures& out) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qf-startup-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return false;
  }
  const fs::path dir = pattern;
  for (const char* sub : {"home", "config/Quillfern", "data/Quillfern/Torrents", "run", "downloads"})
    fs::create_directories(dir / sub);
  fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
  platform::profile profile(dir / "config/Quillfern/Quillfern.ini");
  profile.WriteProfileInt("Configuration", "MinPort", 0);
  profile.WriteProfileInt("Configuration", "MaxPort", 0);
  profile.WriteProfileInt("Configuration", "DHTPort", 0);
  if (active > 0) profile.WriteProfileInt("Configuration", "MaxActiveTorrent", active);

  const fs::path data = dir / "data/Quillfern/Torrents";
  auto section_of = [&](int n) {
    return client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(list_section(data, n))));
  };
  client::Utf16IniFile list;
  list.StartListFile();
  for (int n = 0; n < count; ++n) {
    std::ofstream(list_section(data, n), std::ios::binary) << torrent_file(n);
    const std::u16string section = section_of(n);
    list.Set(section, u"Priority", u"1");
    list.Set(section, u"Status", u"2");
    list.Set(section, u"Destination", client::WideToUtf16(client::Utf8ToWide((dir / "downloads").string() + "/")));
  }
  list.Save(data / "TorrentQueue.txt");

  std::vector<std::string> env_text = {"HOME=" + (dir / "home").string(),
                                       "XDG_CONFIG_HOME=" + (dir / "config").string(),
                                       "XDG_DATA_HOME=" + (dir / "data").string(),
                                       "XDG_RUNTIME_DIR=" + (dir / "run").string(),
                                       "DISPLAY=" + std::string(std::getenv("DISPLAY")),
                                       "GDK_BACKEND=x11",
                                       "NO_AT_BRIDGE=1",
                                       "PATH=/usr/bin:/bin"};
  // An X server with access control lets in whoever shows its cookie.
  if (const char* xauthority = std::getenv("XAUTHORITY")) env_text.push_back("XAUTHORITY=" + std::string(xauthority));
  std::vector<char*> env;
  for (auto& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  std::string program_arg = program;
  char* args[] = {program_arg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  // The folders go when the whole run ends: thousands of files deleted
  // just before the next round would slow the file creations measured
  // there (some filesystems look through recently deleted inodes).
  auto clean_up = [&] { finished_folders.push_back(dir); };
  const auto start = clock_type::now();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args, env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    clean_up();
    return false;
  }
  while (!window_painted()) {
    if (seconds_since(start) > 120 || ::waitpid(pid, nullptr, WNOHANG) == pid) {
      std::fprintf(stderr, "no window\n");
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      clean_up();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  out.first_paint = seconds_since(start);
  out.startup_cpu = cpu_seconds(pid);
  out.startup_rss = status_kb(pid, "VmRSS");

  // Quiet: the first ticks and the checks of the started torrents are over.
  std::this_thread::sleep_for(std::chrono::seconds(5));
  const double cpu_before = cpu_seconds(pid);
  const auto idle_start = clock_type::now();
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const double idle_cpu = cpu_seconds(pid) - cpu_before;
  out.idle_cpu_share = 100.0 * idle_cpu / seconds_since(idle_start);
  out.rss = status_kb(pid, "VmRSS");
  out.peak = status_kb(pid, "VmHWM");

  ::kill(pid, SIGTERM);
  const auto stop = clock_type::now();
  int status = 0;
  ::waitpid(pid, &status, 0);
  out.shutdown = seconds_since(stop);
  out.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  client::Utf16IniFile saved;
  saved.Load(data / "TorrentQueue.txt");
  out.sections = 0;
  for (int n = 0; n < count; ++n)
    if (saved.Get(section_of(n), u"Destination")) ++out.sections;
  clean_up();
  return true;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The medians over the rounds, field by field.
figures medians(const std::vector<figures>& rounds) {
  auto of = [&](auto field) {
    std::vector<double> v;
    for (const figures& f : rounds) v.push_back(double(f.*field));
    return median(v);
  };
  figures m;
  m.first_paint = of(&figures::first_paint);
  m.startup_cpu = of(&figures::startup_cpu);
  m.startup_rss = long(of(&figures::startup_rss));
  m.idle_cpu_share = of(&figures::idle_cpu_share);
  m.rss = long(of(&figures::rss));
  m.peak = long(of(&figures::peak));
  m.shutdown = of(&figures::shutdown);
  m.exit_status = rounds.back().exit_status;
  m.sections = int(of(&figures::sections));
  return m;
}

std::vector<int> counts_from(const std::string& text) {
  std::vector<int> counts;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');)
    if (const int n = std::atoi(item.c_str()); n > 0) counts.push_back(n);
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  // An empty first argument keeps the default counts (to give the others).
  const std::vector<int> counts = counts_from(argc > 1 && *argv[1] ? argv[1] : "200,1000,2000");
  const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  const std::string program = argc > 3 ? argv[3] : "build/client/Quillfern";
  // How many of them run at once ("MaxActiveTorrent"; 0 keeps the default).
  const int active = argc > 4 ? std::atoi(argv[4]) : 0;
  const int rounds = std::max(argc > 5 ? std::atoi(argv[5]) : 1, 1);
  if (!std::getenv("DISPLAY") || !fs::exists(program) || counts.empty()) {
    std::fprintf(stderr, "needs $DISPLAY, %s and at least one torrent count\n", program.c_str());
    return 2;
  }

  bool all_saved = true;
  std::vector<std::pair<int, figures>> table;
  for (const int count : counts) {
    std::vector<figures> measured;
    for (int r = 0; r < rounds; ++r) {
      figures f;
      if (!run_once(count, idle_seconds, program, active, f)) return 1;
      measured.push_back(f);
    }
    const figures f = medians(measured);
    all_saved = all_saved && f.sections == count;
    table.emplace_back(count, f);
    if (rounds > 1) std::printf("medians of %d rounds:\n", rounds);
    std::printf("torrents restored          %d (sections saved at the end: %d)\n", count, f.sections);
    std::printf("start to first paint       %.3f s (CPU %.3f s, RSS %ld KiB)\n", f.first_paint, f.startup_cpu,
                f.startup_rss);
    std::printf("idle CPU over %d s         %.2f %% of one core\n", idle_seconds, f.idle_cpu_share);
    std::printf("resident memory            %ld KiB (peak %ld KiB)\n", f.rss, f.peak);
    std::printf("close (SIGTERM) to exit    %.3f s, exit status %d\n\n", f.shutdown, f.exit_status);
    std::fflush(stdout);
  }
  if (table.size() > 1) {
    // Memory per torrent: what each count costs beyond the first one.
    std::printf("%-10s %12s %14s %16s %12s %14s\n", "torrents", "idle CPU %", "resident MiB", "KiB per torrent",
                "first paint", "SIGTERM->exit");
    const auto& [first_count, first] = table.front();
    for (const auto& [count, f] : table) {
      char per_torrent[32] = "-";
      if (count != first_count)
        std::snprintf(per_torrent, sizeof per_torrent, "%.1f", double(f.rss - first.rss) / (count - first_count));
      std::printf("%-10d %12.2f %14.1f %16s %10.3f s %12.3f s\n", count, f.idle_cpu_share, double(f.rss) / 1024,
                  per_torrent, f.first_paint, f.shutdown);
    }
  }
  return all_saved ? 0 : 1;
}
