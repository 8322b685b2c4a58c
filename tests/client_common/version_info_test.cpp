#include "client/common/CVersionsInfo.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace client;

namespace {
void ExpectNumbers(const CVersionsInfo& v, int a, int b, int c, int d) {
  EXPECT_EQ(v.GetMajorVersion(), a);
  EXPECT_EQ(v.GetMinorVersion(), b);
  EXPECT_EQ(v.GetBuildNumber(), c);
  EXPECT_EQ(v.GetRevision(), d);
}
}  // namespace

TEST(VersionInfo, ReadsTheEnglishTableFirstThenTheGermanOne) {
  const CVersionsInfo english(VersionTables({{L"040904b0", L"1, 3, 0, 55"}, {L"040704b0", L"9.9.9.9"}}));
  ExpectNumbers(english, 1, 3, 0, 55);
  EXPECT_EQ(english.GetVersionText(), L"1, 3, 0, 55");
  EXPECT_EQ(english.GetMajor(), 1);

  const CVersionsInfo german(VersionTables({{L"040704b0", L"2.0.1.7"}}));
  ExpectNumbers(german, 2, 0, 1, 7);
  EXPECT_EQ(german.GetVersionText(), L"2.0.1.7");

  // Each table is read only in its own format; what does not read stays 0.
  ExpectNumbers(CVersionsInfo(VersionTables({{L"040904b0", L"4.5.6.7"}})), 4, 0, 0, 0);
}

TEST(VersionInfo, NoVersionOrAFailingSourceGivesZeros) {
  const CVersionsInfo none{VersionTables()};
  EXPECT_EQ(none.GetVersionText(), L"0.0.0.0");
  EXPECT_EQ(none.GetMajor(), 0);
  ExpectNumbers(none, 0, 0, 0, 0);

  struct Failing : VersionResource {
    std::optional<std::wstring> FileVersion(std::wstring_view) const override {
      throw std::runtime_error("unreadable");
    }
  };
  const CVersionsInfo failed{Failing()};
  EXPECT_EQ(failed.GetVersionText(), L"0.0.0.0");
  ExpectNumbers(failed, 0, 0, 0, 0);
}

TEST(VersionInfo, TheProgramsOwnVersionComesFromTheBuild) {
  const CVersionsInfo own;
  EXPECT_EQ(own.GetVersionText(), L"1, 3, 0, 55");
  ExpectNumbers(own, 1, 3, 0, 55);
}
