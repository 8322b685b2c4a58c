#include "client/files/CUTF16File.h"
#include "client/app/settings.h"
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using client::LoadSettings;
using client::Settings;

namespace {

struct TempFolder {
  fs::path dir;
  TempFolder() {
    dir = fs::temp_directory_path() / ("qf_settings_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempFolder() { fs::remove_all(dir); }
  platform::profile Profile() const { return platform::profile(dir / "Quillfern.ini"); }
};

// Sets an environment variable for one scope.
struct ScopedEnv {
  std::string name;
  std::optional<std::string> old;
  ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
    if (const char* v = std::getenv(name.c_str())) old = v;
    if (value) setenv(name.c_str(), value, 1);
    else unsetenv(name.c_str());
  }
  ~ScopedEnv() {
    if (old) setenv(name.c_str(), old->c_str(), 1);
    else unsetenv(name.c_str());
  }
};

void Put(platform::profile& p, const char* key, int value) { p.WriteProfileInt("Configuration", key, value); }
void Put(platform::profile& p, const char* key, const char* value) {
  p.WriteProfileString("Configuration", key, value);
}

TEST(SettingsLoader, DefaultsOfAnEmptyProfile) {
  TempFolder t;
  ScopedEnv home("HOME", (t.dir / "home").c_str());
  const Settings s = LoadSettings(t.Profile(), true);
  EXPECT_EQ(s.max_upload_rate, 10240);
  EXPECT_EQ(s.max_download_rate, -1);
  EXPECT_EQ(s.max_active_torrents, 4u);
  EXPECT_EQ(s.max_uploads_per_torrent, 4);
  EXPECT_EQ(s.seeding_time, 7200000u);
  EXPECT_EQ(s.seeding_mode, 0u);
  EXPECT_EQ(s.seeding_ratio, 2.0);
  EXPECT_EQ(s.peer_ratio, 0.0);
  EXPECT_EQ(s.min_port, 1500u);
  EXPECT_EQ(s.max_port, 1504u);
  EXPECT_EQ(s.dht_port, 1500u);
  EXPECT_EQ(s.max_connections, 100);
  EXPECT_FALSE(s.remove_underscores);
  EXPECT_FALSE(s.upnp_port_forwarding);
  EXPECT_EQ(s.ip_address_index, 0);
  // The default "C:\" is the home folder here.
  EXPECT_EQ(s.asd_single, (t.dir / "home").string() + "/");
  EXPECT_EQ(s.asd_mode, 2u);
  EXPECT_EQ(s.last_priority, 1);
}

TEST(SettingsLoader, RateClamps) {
  TempFolder t;
  auto p = t.Profile();
  auto upload = [&](int v) {
    Put(p, "MaxUploadRate", v);
    return LoadSettings(p, true).max_upload_rate;
  };
  EXPECT_EQ(upload(1000), 2048);
  EXPECT_EQ(upload(0), 2048);
  EXPECT_EQ(upload(-5), 2048);
  EXPECT_EQ(upload(2047), 2048);
  EXPECT_EQ(upload(2048), 2048);
  EXPECT_EQ(upload(-1), -1);  // unlimited
  EXPECT_EQ(upload(50000), 50000);

  auto download = [&](int v) {
    Put(p, "MaxDownloadRate", v);
    return LoadSettings(p, true).max_download_rate;
  };
  EXPECT_EQ(download(0), -1);
  EXPECT_EQ(download(1), 1);
  EXPECT_EQ(download(-1), -1);
}

TEST(SettingsLoader, RatioTexts) {
  TempFolder t;
  auto p = t.Profile();
  auto peer = [&](const char* text) {
    Put(p, "PeerRatio", text);
    return LoadSettings(p, true).peer_ratio;
  };
  EXPECT_EQ(peer("0.5"), 1.0);
  EXPECT_EQ(peer("0"), 0.0);
  EXPECT_EQ(peer("no number"), 0.0);
  EXPECT_EQ(peer(""), 0.0);
  EXPECT_EQ(peer("-3"), 1.0);
  EXPECT_EQ(peer("1"), 1.0);
  EXPECT_EQ(peer("2.75"), 2.75);
  EXPECT_EQ(peer(" 1.5x"), 1.5);  // one number read, the rest ignored

  auto seeding = [&](const char* text) {
    Put(p, "SeedingRatio", text);
    return LoadSettings(p, true).seeding_ratio;
  };
  EXPECT_EQ(seeding("not a number"), 2.0);
  EXPECT_EQ(seeding("0.25"), 0.25);
  EXPECT_EQ(seeding("3"), 3.0);

  // A decimal comma, as earlier versions wrote under a German locale.
  EXPECT_EQ(seeding("1,5"), 1.5);
  EXPECT_EQ(peer("1,5"), 1.5);
  EXPECT_EQ(peer(" 2,75 "), 2.75);
  EXPECT_EQ(seeding(",5"), 0.5);
  EXPECT_EQ(seeding("1,5,5"), 1.5);
}

// A ratio written as "1.5" stays 1.5 in a locale with a decimal comma.
TEST(SettingsLoader, RatioTextsIgnoreTheUsersLocale) {
  TempFolder t;
  std::string locale_name;
  std::optional<ScopedEnv> locpath;
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    // Make the locale in the test's own folder when the system has none.
    const std::string command = "localedef -i de_DE -f UTF-8 " + (t.dir / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0 || fs::exists(t.dir / "de_DE.UTF-8")) {
      locpath.emplace("LOCPATH", t.dir.c_str());
    }
  }
  const char* set = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (!set) GTEST_FAIL() << "no de_DE.UTF-8 locale could be set or made";
  EXPECT_STREQ(std::localeconv()->decimal_point, ",");
  auto p = t.Profile();
  Put(p, "SeedingRatio", "1.5");
  Put(p, "PeerRatio", "2.5");
  const Settings s = LoadSettings(p, true);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(s.seeding_ratio, 1.5);
  EXPECT_EQ(s.peer_ratio, 2.5);
}

TEST(SettingsLoader, AutoSaveFolderAndMode) {
  TempFolder t;
  ScopedEnv home("HOME", "/home/ann");
  auto p = t.Profile();
  auto mode = [&](int v) {
    Put(p, "ASDMode", v);
    return LoadSettings(p, true).asd_mode;
  };
  EXPECT_EQ(mode(7), 2u);
  EXPECT_EQ(mode(3), 2u);
  EXPECT_EQ(mode(-1), 2u);  // compared unsigned
  EXPECT_EQ(mode(0), 0u);
  EXPECT_EQ(mode(1), 1u);

  auto single = [&](const char* v) {
    Put(p, "ASDSingle", v);
    return LoadSettings(p, true).asd_single;
  };
  EXPECT_EQ(single("ab"), "ab");  // two characters stay as they are
  EXPECT_EQ(single("/x"), "/x");
  EXPECT_EQ(single("/xy"), "/xy/");
  EXPECT_EQ(single("/data/films/"), "/data/films/");
  EXPECT_EQ(single("D:\\films\\"), "D:\\films\\");
  EXPECT_EQ(single("/Ünï"), "/Ünï/");
  EXPECT_EQ(single("C:\\"), "/home/ann/");
  EXPECT_EQ(single("d:/"), "/home/ann/");
  EXPECT_EQ(single(""), "");
}

TEST(SettingsLoader, PortForwardingNeedsThePlatformFlag) {
  TempFolder t;
  auto p = t.Profile();
  Put(p, "UPnPPortForwarding", 1);
  EXPECT_TRUE(LoadSettings(p, true).upnp_port_forwarding);
  EXPECT_FALSE(LoadSettings(p, false).upnp_port_forwarding);
  Put(p, "Remove_FromFileNames", 5);
  EXPECT_TRUE(LoadSettings(p, true).remove_underscores);
  Put(p, "MaxActiveTorrent", -1);
  EXPECT_EQ(LoadSettings(p, true).max_active_torrents, 0xFFFFFFFFu);
}

TEST(SettingsLoader, StartupValuesAndInterval) {
  TempFolder t;
  auto p = t.Profile();
  const auto v = client::ReadStartupValues(p);
  EXPECT_FALSE(v.session_only);
  EXPECT_FALSE(v.simple_display);
  EXPECT_FALSE(v.show_diagram);
  EXPECT_FALSE(v.use_database);
  EXPECT_EQ(v.torrents, "");
  EXPECT_EQ(v.last_destination, "");
  EXPECT_EQ(v.database_url, "");
  EXPECT_EQ(v.database_port, 3306);
  EXPECT_EQ(v.database_user, "Quillfern");
  EXPECT_EQ(v.database_password, "");

  EXPECT_EQ(client::ReadInterval(p), 500);
  for (auto [stored, used] : {std::pair{0, 10}, {-200, 10}, {9, 10}, {10, 10}, {11, 11}, {2000, 2000}}) {
    Put(p, "Intervall", stored);
    EXPECT_EQ(client::ReadInterval(p), used) << stored;
  }
}

TEST(SettingsLoader, DataFolderAndLastDestination) {
  TempFolder t;
  ScopedEnv home("HOME", (t.dir / "home").c_str());
  {
    ScopedEnv data("XDG_DATA_HOME", (t.dir / "xdg").c_str());
    EXPECT_EQ(client::DataFolder(""), (t.dir / "xdg/Quillfern/Torrents/").string());
    EXPECT_TRUE(fs::is_directory(t.dir / "xdg/Quillfern/Torrents"));
  }
  {
    ScopedEnv data("XDG_DATA_HOME", "relative/path");
    EXPECT_EQ(client::DataFolder(""), (t.dir / "home/.local/share/Quillfern/Torrents/").string());
  }
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(client::DataFolder(""), (t.dir / "home/.local/share/Quillfern/Torrents/").string());
    EXPECT_TRUE(fs::is_directory(t.dir / "home/.local/share/Quillfern/Torrents"));
  }
  EXPECT_EQ(client::DataFolder((t.dir / "mine/deep").string()), (t.dir / "mine/deep/").string());
  EXPECT_TRUE(fs::is_directory(t.dir / "mine/deep"));

  EXPECT_EQ(client::LastDestination("/films/"), "/films/");
  EXPECT_EQ(client::LastDestination(""), fs::current_path().string() + "/");
}

TEST(SettingsLoader, DestinationsFile) {
  TempFolder t;
  const fs::path file = t.dir / "Destinations.txt";
  {
    client::CUTF16File out(file, client::CUTF16File::modeWrite | client::CUTF16File::modeCreate);
    out.WriteString(
        u"film,movie=  /media/Filme\r\n=/no/keywords\r\nno equals sign\r\nx=/\r\ny=ab\r\n"
        u"z=/music/\r\nä=/b=c\r\nlast=/end");
    ASSERT_TRUE(out.Close());
  }
  const auto list = client::LoadDestinations(file);
  const std::vector<client::DestinationEntry> expected = {{L"film,movie", "/media/Filme/"},
                                                         {L"x", "/"},
                                                         {L"y", "ab/"},
                                                         {L"z", "/music/"},
                                                         {L"ä", "/b=c/"},
                                                         {L"last", "/end/"}};
  EXPECT_EQ(list, expected);
  EXPECT_TRUE(client::LoadDestinations(t.dir / "missing.txt").empty());
}

TEST(SettingsLoader, UploadSlots) {
  EXPECT_EQ(client::SessionUploadSlots(4, 4), 16);
  EXPECT_EQ(client::SessionUploadSlots(0, 4), 0);
  EXPECT_EQ(client::SessionUploadSlots(INT_MAX, 4), INT_MAX);
  EXPECT_EQ(client::SessionUploadSlots(1000, 0xFFFFFFFFu), INT_MAX);
  EXPECT_EQ(client::SessionUploadSlots(-1, 4), -1);
}

}  // namespace
