#include "client/common/color_scheme.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace client;

namespace {

struct TempFolder {
  fs::path dir;
  TempFolder() {
    dir = fs::temp_directory_path() / ("qf_scheme_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempFolder() { fs::remove_all(dir); }
  std::string folder() const { return dir.string() + "/"; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
};

std::string Bytes(const auto& array) { return std::string(array.begin(), array.end()); }

}  // namespace

TEST(ColorScheme, RecordsRoundTripByteForByte) {
  std::string main_bytes(MainColorBlock::kSize, '\0');
  for (std::size_t i = 48; i < main_bytes.size(); ++i) main_bytes[i] = char(i * 7);
  // Doubles at the start: 12.5, 3, ...
  MainColorBlock block = *MainColorBlock::Parse(main_bytes);
  block.frame.red = {12.5, 3};
  block.frame.blue = {255, -7};
  const auto again = MainColorBlock::Parse(Bytes(block.Serialize()));
  ASSERT_TRUE(again);
  EXPECT_EQ(Bytes(again->Serialize()), Bytes(block.Serialize()));
  EXPECT_EQ(Bytes(block.Serialize()).substr(48), main_bytes.substr(48));

  auto table = DiagramColorTable::Defaults(0x123456);
  table[4].reserved = 0xDEADBEEF;
  const auto bytes = Bytes(table.Serialize());
  ASSERT_EQ(bytes.size(), 560u);
  // Reserved word of the last entry, little-endian, at its end.
  EXPECT_EQ(bytes.substr(556), std::string("\xEF\xBE\xAD\xDE", 4));
  // Entry 2's upload background at offset 112 * 2 + 56.
  EXPECT_EQ(bytes.substr(2 * 112 + 56, 4), std::string("\xC8\xC8\xFF\x00", 4));
  EXPECT_EQ(Bytes(DiagramColorTable::Parse(bytes)->Serialize()), bytes);
}

TEST(ColorScheme, DefaultMainBlockBytes) {
  const auto bytes = Bytes(MainColorBlock::Defaults().Serialize());
  double red_offset;
  std::memcpy(&red_offset, bytes.data(), 8);
  EXPECT_EQ(red_offset, 51.0);
  EXPECT_EQ(bytes.substr(48, 4), std::string("\x33\x33\x69\x00", 4));
  EXPECT_EQ(bytes.substr(84, 4), std::string(4, '\0'));
}

TEST(ColorScheme, OnlyWholeFilesLoadThenTheProfileThenNothing) {
  TempFolder tmp;
  platform::profile profile(tmp.dir / "profile.ini");
  MainColorBlock custom = MainColorBlock::Defaults();
  custom.active_button = 0x00ABCDEF;
  const std::string good = Bytes(custom.Serialize());

  for (std::size_t size : {87u, 89u}) {
    tmp.Write("Main Colors.tnts", std::string(size, 'x'));
    MainColorBlock out = MainColorBlock::Defaults();
    EXPECT_FALSE(LoadMainColors(tmp.folder(), profile, out)) << size;
    EXPECT_EQ(Bytes(out.Serialize()), Bytes(MainColorBlock::Defaults().Serialize())) << size;
  }
  // A profile value of the wrong length is ignored as well.
  profile.WriteProfileBinary("Configuration", "Main Colors", good.substr(0, 80));
  MainColorBlock out = MainColorBlock::Defaults();
  EXPECT_FALSE(LoadMainColors(tmp.folder(), profile, out));
  // A whole profile value is taken when the file is not whole.
  profile.WriteProfileBinary("Configuration", "Main Colors", good);
  ASSERT_TRUE(LoadMainColors(tmp.folder(), profile, out));
  EXPECT_EQ(out.active_button, 0x00ABCDEFu);
  // A whole file wins over the profile.
  custom.active_button = 0x00010203;
  tmp.Write("Main Colors.tnts", Bytes(custom.Serialize()));
  ASSERT_TRUE(LoadMainColors(tmp.folder(), profile, out));
  EXPECT_EQ(out.active_button, 0x00010203u);
  // No folder: no profile read either.
  out = MainColorBlock::Defaults();
  EXPECT_FALSE(LoadMainColors("", profile, out));
}

TEST(ColorScheme, SaveWritesProfileAndFilesOfTheRightSize) {
  TempFolder tmp;
  platform::profile profile(tmp.dir / "profile.ini");
  const std::string folder = tmp.folder() + "schemes/";
  ASSERT_TRUE(SaveDiagramColors(folder, profile, DiagramColorTable::Defaults(7)));
  ASSERT_TRUE(SaveMainColors(folder, profile, MainColorBlock::Defaults()));
  EXPECT_EQ(fs::file_size(folder + "Diagram Colors.tnts"), 560u);
  EXPECT_EQ(fs::file_size(folder + "Main Colors.tnts"), 88u);
  EXPECT_EQ(profile.GetProfileBinary("Configuration", "Diagram Colors")->size(), 560u);
  DiagramColorTable loaded = DiagramColorTable::Defaults(0);
  ASSERT_TRUE(LoadDiagramColors(folder, profile, loaded));
  EXPECT_EQ(loaded[3].main_frame_color, 7u);
}

TEST(ColorScheme, NonFiniteAndHugeDoublesAreTamed) {
  MainColorBlock block = MainColorBlock::Defaults();
  auto bytes = Bytes(block.Serialize());
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  std::memcpy(bytes.data(), &nan, 8);
  std::memcpy(bytes.data() + 8, &inf, 8);
  const double huge = 1e300;
  std::memcpy(bytes.data() + 16, &huge, 8);
  const auto parsed = MainColorBlock::Parse(bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->frame.red.offset, 0.0);
  EXPECT_TRUE(std::isfinite(parsed->frame.red.factor));
  EXPECT_TRUE(std::isfinite(parsed->frame.green.offset));
  for (ColorRef pen : FramePenColors(*parsed)) EXPECT_EQ(pen & 0xFF000000u, 0u);
  EXPECT_EQ(ClampChannel(nan), 0);
  EXPECT_EQ(ClampChannel(-inf), 0);
  EXPECT_EQ(ClampChannel(inf), 255);
  EXPECT_EQ(ClampChannel(254.9), 254);
}

TEST(ColorScheme, FramePensStepAndClamp) {
  MainColorBlock block = MainColorBlock::Defaults();
  block.frame.red = {250, 10};
  block.frame.green = {-5, -1};
  block.frame.blue = {10, 20};
  const auto pens = FramePenColors(block);
  const int expected_red[8] = {250, 255, 255, 255, 255, 255, 255, 250};
  const int expected_blue[8] = {10, 30, 50, 70, 70, 50, 30, 10};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(FromColorRef(pens[i]).r, expected_red[i]) << i;
    EXPECT_EQ(FromColorRef(pens[i]).g, 0) << i;
    EXPECT_EQ(FromColorRef(pens[i]).b, expected_blue[i]) << i;
  }
}

TEST(ColorScheme, RimPensBlendTheMainFrameColour) {
  DiagramColorEntry e;
  e.frame.red = {100, 10};
  e.frame.green = {0, 0};
  e.frame.blue = {250, 10};
  e.main_frame_color = ToColorRef(200, 0, 255);
  const auto pens = RimPenColors(e);
  // 0.5(m + o), 0.5(m/2 + o + f), o + 2f, o + 3f, o + 2f, o + f
  const int red[6] = {150, 105, 120, 130, 120, 110};
  const int blue[6] = {252, 193, 255, 255, 255, 255};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(FromColorRef(pens[i]).r, red[i]) << i;
    EXPECT_EQ(FromColorRef(pens[i]).b, blue[i]) << i;
  }
}
