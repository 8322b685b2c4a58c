#include "platform/profile.h"
#include "platform/random.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

class ProfileStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qf_profile_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string contents(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::filesystem::path dir;
};

TEST_F(ProfileStore, ValuesRoundTripAndSurviveOtherWrites) {
  platform::profile p(dir / "sub" / "App.ini");
  EXPECT_EQ(p.GetProfileInt("Configuration", "DHTPort", 1500), 1500);
  EXPECT_FALSE(p.GetProfileBinary("Configuration", "DHT ID"));

  ASSERT_TRUE(p.WriteProfileInt("Configuration", "DHTPort", 6881));
  ASSERT_TRUE(p.WriteProfileInt("Configuration", "MaxUploadRate", -1));
  ASSERT_TRUE(p.WriteProfileString("Configuration", "Torrents", "C:\\data\\\nnext line\r"));
  const std::string id("\x00\x01\xfe\xff" "abc", 7);
  ASSERT_TRUE(p.WriteProfileBinary("Configuration", "DHT ID", id));
  ASSERT_TRUE(p.WriteProfileString("Other", "Key", " spaced = value "));

  platform::profile again(dir / "sub" / "App.ini");
  EXPECT_EQ(again.GetProfileInt("configuration", "dhtport", 0), 6881);
  EXPECT_EQ(again.GetProfileInt("Configuration", "MaxUploadRate", 0), -1);
  EXPECT_EQ(again.GetProfileString("Configuration", "Torrents"), "C:\\data\\\nnext line\r");
  EXPECT_EQ(again.GetProfileBinary("Configuration", "DHT ID"), id);
  EXPECT_EQ(again.GetProfileString("Other", "Key"), " spaced = value ");
  EXPECT_EQ(again.GetProfileString("Other", "Missing", "dflt"), "dflt");

  // Overwrite in place, delete, and the rest stays as it was.
  ASSERT_TRUE(p.WriteProfileInt("Configuration", "DHTPort", 7000));
  ASSERT_TRUE(p.DeleteProfileValue("Configuration", "MaxUploadRate"));
  EXPECT_EQ(p.GetProfileInt("Configuration", "DHTPort", 0), 7000);
  EXPECT_EQ(p.GetProfileInt("Configuration", "MaxUploadRate", 5), 5);
  EXPECT_EQ(p.GetProfileBinary("Configuration", "DHT ID"), id);
  const std::string text = contents(p.file());
  EXPECT_NE(text.find("[Configuration]\nDHTPort=7000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("DHT ID=0001feff616263\n"), std::string::npos) << text;
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1);
}

TEST_F(ProfileStore, HandEditedFilesAreReadLeniently) {
  const auto file = dir / "x.ini";
  std::ofstream(file) << "; comment\r\n[Configuration]\r\nA = 12 \r\nB=abc\r\nC=4294967295\r\n"
                         "D=zz\r\nE=123\r\n\r\n[Configuration2]\r\nA=99\r\n";
  platform::profile p(file);
  EXPECT_EQ(p.GetProfileInt("Configuration", "A", 0), 12);
  EXPECT_EQ(p.GetProfileInt("Configuration", "B", 7), 7);
  EXPECT_EQ(p.GetProfileInt("Configuration", "C", 0), -1);
  EXPECT_FALSE(p.GetProfileBinary("Configuration", "D"));
  EXPECT_FALSE(p.GetProfileBinary("Configuration", "E"));  // odd number of digits
  EXPECT_EQ(p.GetProfileInt("Configuration2", "A", 0), 99);
  ASSERT_TRUE(p.WriteProfileInt("Configuration", "New", 1));
  const std::string text = contents(file);
  EXPECT_NE(text.find("E=123\nNew=1\n\n[Configuration2]"), std::string::npos) << text;
  EXPECT_NE(text.find("; comment"), std::string::npos);
  // Names that would break the format are refused.
  EXPECT_FALSE(p.WriteProfileInt("Configuration", "a=b", 1));
  EXPECT_FALSE(p.WriteProfileInt("Conf]", "a", 1));
}

TEST_F(ProfileStore, SectionTextIsAProfileOfThatSectionAlone) {
  const auto file = dir / "x.ini";
  std::ofstream(file) << "[Other]\nA=1\n\n[Configuration]\nT=a\\\\b\\nc\n; note\nN=-1\n\n[Last]\nZ=2\n";
  platform::profile p(file);
  const std::string text = p.SectionText("configuration");
  EXPECT_EQ(text, "[Configuration]\nT=a\\\\b\\nc\n; note\nN=-1\n");
  std::ofstream(dir / "copy.ini") << text;
  platform::profile copy(dir / "copy.ini");
  EXPECT_EQ(copy.GetProfileString("Configuration", "T"), "a\\b\nc");
  EXPECT_EQ(copy.GetProfileInt("Configuration", "N", 0), -1);
  EXPECT_EQ(copy.GetProfileInt("Other", "A", 0), 0);
  EXPECT_EQ(p.SectionText("Missing"), "");
}

TEST_F(ProfileStore, ApplicationProfileFollowsConfigFolder) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  EXPECT_EQ(platform::profile::application().file(), dir / "Quillfern" / "Quillfern.ini");
  platform::profile::set_application_file(dir / "elsewhere.ini");
  EXPECT_EQ(platform::profile::application().file(), dir / "elsewhere.ini");
  platform::profile::set_application_file({});
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(ProfileStore, ConcurrentWritersLoseNoValue) {
  const auto file = dir / "c.ini";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      platform::profile p(file);
      for (int i = 0; i < 25; ++i) p.WriteProfileInt("S" + std::to_string(t), "V" + std::to_string(i), i);
    });
  for (auto& th : threads) th.join();
  platform::profile p(file);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i) EXPECT_EQ(p.GetProfileInt("S" + std::to_string(t), "V" + std::to_string(i), -1), i);
}

}  // namespace
