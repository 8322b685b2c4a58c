// Start-up of the Quillfern program with many saved torrents: a data folder
// of N torrents (4 MiB each, nothing on disk yet, all "Downloading") and
// their list file; the program is started on the X server of $DISPLAY with
// folders of its own. Measured: the time from the start to the first paint
// of the main window (the restore runs before the window is shown), then
// the CPU time and resident memory of the running program over a quiet
// span. At the end it is closed with SIGTERM and its list file is counted.
//
//   quillfern_startup [torrents=200] [idle seconds=30] [program=build/client/Quillfern]

#include "client/utf16_ini_file.h"
#include "client/wide_text.h"
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

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 200;
  const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  const std::string program = argc > 3 ? argv[3] : "build/client/Quillfern";
  // How many of them run at once ("MaxActiveTorrent"; 0 keeps the default).
  const int active = argc > 4 ? std::atoi(argv[4]) : 0;
  if (!std::getenv("DISPLAY") || !fs::exists(program)) {
    std::fprintf(stderr, "needs $DISPLAY and %s\n", program.c_str());
    return 2;
  }
  char pattern[] = "/tmp/qf-startup-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  for (const char* sub : {"home", "config/Quillfern", "data/Quillfern/Torrents", "run", "downloads"})
    fs::create_directories(dir / sub);
  fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
  platform::profile profile(dir / "config/Quillfern/Quillfern.ini");
  profile.WriteProfileInt("Configuration", "MinPort", 0);
  profile.WriteProfileInt("Configuration", "MaxPort", 0);
  profile.WriteProfileInt("Configuration", "DHTPort", 0);
  if (active > 0) profile.WriteProfileInt("Configuration", "MaxActiveTorrent", active);

  const fs::path data = dir / "data/Quillfern/Torrents";
  client::Utf16IniFile list;
  list.StartListFile();
  for (int n = 0; n < count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "t%03d.torrent", n);
    std::ofstream(data / name, std::ios::binary) << torrent_file(n);
    const std::u16string section =
        client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide((data / name).string())));
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
  std::vector<char*> env;
  for (auto& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  std::string program_arg = program;
  char* args[] = {program_arg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  const auto start = clock_type::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args, env.data()) != 0) return 1;
  posix_spawn_file_actions_destroy(&actions);
  while (!window_painted()) {
    if (seconds_since(start) > 120 || ::waitpid(pid, nullptr, WNOHANG) == pid) {
      std::fprintf(stderr, "no window\n");
      ::kill(pid, SIGKILL);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const double first_paint = seconds_since(start);
  const double startup_cpu = cpu_seconds(pid);
  const long startup_rss = status_kb(pid, "VmRSS");

  // Quiet: the first ticks and the checks of the started torrents are over.
  std::this_thread::sleep_for(std::chrono::seconds(5));
  const double cpu_before = cpu_seconds(pid);
  const auto idle_start = clock_type::now();
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const double idle_cpu = cpu_seconds(pid) - cpu_before;
  const double idle_span = seconds_since(idle_start);
  const long rss = status_kb(pid, "VmRSS");
  const long peak = status_kb(pid, "VmHWM");

  ::kill(pid, SIGTERM);
  const auto stop = clock_type::now();
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double shutdown = seconds_since(stop);
  client::Utf16IniFile saved;
  saved.Load(data / "TorrentQueue.txt");
  int sections = 0;
  for (int n = 0; n < count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "t%03d.torrent", n);
    if (saved.Get(client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide((data / name).string()))),
                  u"Destination"))
      ++sections;
  }

  std::printf("torrents restored          %d (sections saved at the end: %d)\n", count, sections);
  std::printf("start to first paint       %.3f s (CPU %.3f s, RSS %ld kB)\n", first_paint, startup_cpu, startup_rss);
  std::printf("idle CPU over %.1f s       %.3f s = %.2f %% of one core\n", idle_span, idle_cpu,
              100.0 * idle_cpu / idle_span);
  std::printf("resident memory            %ld kB (peak %ld kB)\n", rss, peak);
  std::printf("close (SIGTERM) to exit    %.3f s, exit status %d\n", shutdown,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return sections == count ? 0 : 1;
}
