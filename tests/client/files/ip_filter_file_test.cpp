#include "client/files/ip_filter_file.h"
#include "client/files/ip_filter_keeper.h"
#include "client/base/wide_text.h"
#include "engine/session/session.h"
#include "engine/session/session_impl.h"
#include "engine/wire/fingerprint.h"
#include "tests/client/temp_folder.h"
#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

#include <mutex>

using client::IpFilterFileText;
using client::ReadIpFilterText;
using engine::address;
using engine::ip_filter;
using engine::ip_range;

namespace {

address A(const char* dotted) { return *address::parse_dotted(dotted); }

ip_filter Read(std::string_view text) {
  ip_filter f;
  ReadIpFilterText(text, f);
  return f;
}

std::vector<ip_range> Ranges(std::initializer_list<std::tuple<const char*, const char*, int>> list) {
  std::vector<ip_range> out;
  for (const auto& [first, last, flags] : list) out.push_back({A(first), A(last), flags});
  return out;
}

const std::string kComment = "# Quillfern Version 1, 3, 0, 55 quillfern.example.org\r\n";

TEST(IpFilterFile, UnchangedFilterIsOneAllowedRange) {
  EXPECT_EQ(IpFilterFileText(ip_filter()), kComment + "0.0.0.0 - 255.255.255.255, 128,\r\n");
}

TEST(IpFilterFile, EndsFollowTheDotZeroRuleAndReadBackTheSame) {
  ip_filter f;
  f.add_rule(A("10.1.2.1"), A("10.1.2.255"), ip_filter::blocked);  // a range ban
  f.add_rule(A("20.0.0.5"), A("20.0.0.9"), ip_filter::blocked);
  f.add_rule(A("255.255.255.0"), A("255.255.255.255"), ip_filter::blocked);
  const std::string text = IpFilterFileText(f);
  EXPECT_EQ(text, kComment +
                      "0.0.0.0 - 10.1.2.0, 128,\r\n"
                      "10.1.2.1 - 10.1.3.0, 1,\r\n"  // the next range starts at .0: shared end
                      "10.1.3.0 - 20.0.0.4, 128,\r\n"
                      "20.0.0.5 - 20.0.0.9, 1,\r\n"
                      "20.0.0.10 - 255.255.255.0, 128,\r\n"
                      "255.255.255.0 - 255.255.255.255, 1,\r\n");
  EXPECT_EQ(Read(text).export_filter(), f.export_filter());
}

TEST(IpFilterFile, ReadingRules) {
  // Blanks anywhere are ignored; a level below 128 blocks.
  EXPECT_EQ(Read("1 . 2 . 3 . 4 - 1.2.3.9 , 1").export_filter(),
            Ranges({{"0.0.0.0", "1.2.3.3", 0}, {"1.2.3.4", "1.2.3.9", 1}, {"1.2.3.10", "255.255.255.255", 0}}));
  EXPECT_EQ(Read("1.2.3.4-1.2.3.9,127,\n").export_filter(), Read("1.2.3.4-1.2.3.9,1").export_filter());
  EXPECT_EQ(Read("1.2.3.4-1.2.3.9,128,\n").export_filter(), ip_filter().export_filter());
  EXPECT_EQ(Read("1.2.3.4-1.2.3.9,200,\n").export_filter(), ip_filter().export_filter());
  // Parts count with their low eight bits.
  EXPECT_EQ(Read("257.2.3.4-1.2.3.265,0").export_filter(), Read("1.2.3.4-1.2.3.9,0").export_filter());

  // Later lines win where they overlap; a comment in the middle is skipped;
  // the last line is read without a line end.
  EXPECT_EQ(Read("# blocked\r\n1.0.0.0-1.255.255.255,1,\r\n#1.0.0.0-1.0.0.255,128\r\n1.0.0.0-1.0.0.255,128,")
                .export_filter(),
            Ranges({{"0.0.0.0", "1.0.0.255", 0}, {"1.0.1.0", "1.255.255.255", 1}, {"2.0.0.0", "255.255.255.255", 0}}));

  // A malformed line (a rule without its level, a bad address) or an
  // empty one is skipped and the reading goes on; only malformed lines
  // count. A zero byte ends the text.
  const auto both = Read("5.0.0.0-5.0.0.9,1\r\n7.0.0.0-7.0.0.9,1").export_filter();
  ip_filter f;
  EXPECT_EQ(ReadIpFilterText("5.0.0.0-5.0.0.9,1\r\n5.0.0.x-6.0.0.0,1\r\n5.0.0.0-5.0.0.9\r\n\r\n\n"
                             "7.0.0.0-7.0.0.9,1\r\n",
                             f),
            2u);
  EXPECT_EQ(f.export_filter(), both);
  EXPECT_EQ(Read(std::string_view("5.0.0.0-5.0.0.9,1\r\n\0" "7.0.0.0-7.0.0.9,1\r\n", 40)).export_filter(),
            Read("5.0.0.0-5.0.0.9,1").export_filter());
}

TEST(IpFilterFile, ReversedLineIsSkippedAndReadingGoesOn) {
  const auto f = Read("9.0.0.9-9.0.0.1,1\r\n5.0.0.0-5.0.0.9,1\r\n");
  EXPECT_EQ(f.export_filter(), Read("5.0.0.0-5.0.0.9,1").export_filter());
}

TEST(IpFilterFile, SaveLoadAndAtomicReplace) {
  client_test::temp_folder dir("qf_ipfilter_");
  const auto file = dir / std::string(client::kIpFilterFileName);
  ip_filter loaded;
  EXPECT_FALSE(client::LoadIpFilterFile(file, loaded));  // missing: filter unchanged
  EXPECT_EQ(loaded.export_filter(), ip_filter().export_filter());

  ip_filter f;
  f.add_rule(A("62.1.0.0"), A("62.1.255.255"), ip_filter::blocked);
  ASSERT_TRUE(client::SaveIpFilterFile(file, f));
  ASSERT_TRUE(client::LoadIpFilterFile(file, loaded));
  EXPECT_EQ(loaded.export_filter(), f.export_filter());

  // Saving again replaces the file by a new one: the old contents are never
  // truncated in place (a second name for the old file keeps them whole),
  // and nothing else is left in the folder.
  const std::string before = client_test::temp_folder::read(file);
  std::filesystem::create_hard_link(file, dir / "old");
  f.add_rule(A("80.0.0.0"), A("80.0.0.0"), ip_filter::blocked);
  ASSERT_TRUE(client::SaveIpFilterFile(file, f));
  EXPECT_EQ(client_test::temp_folder::read(dir / "old"), before);
  EXPECT_EQ(client_test::temp_folder::read(file), IpFilterFileText(f));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// The keeper with a real engine session, in file mode.
class IpFilterKeeperTest : public ::testing::Test {
 protected:
  std::vector<ip_range> SessionFilter() {
    std::lock_guard lock(session.impl().mutex());
    return session.impl().filter().export_filter();
  }

  client_test::temp_folder dir{"qf_keeper_"};
  std::filesystem::path file = dir / std::string(client::kIpFilterFileName);
  std::vector<std::wstring> log;
  client::IpFilterKeeper keeper{[this](const std::wstring& line) { log.push_back(line); }};
  engine::session session{engine::fingerprint("QF", 1, 3, 0, 55)};
};

TEST_F(IpFilterKeeperTest, BansReachTheSession) {
  keeper.CreateFilter();
  keeper.SetSession(&session);
  keeper.BanPeer(A("1.2.3.4"));
  keeper.BanPeerRange(A("7.8.9.10"));
  const auto expected = Ranges({{"0.0.0.0", "1.2.3.3", 0},
                                {"1.2.3.4", "1.2.3.4", 1},
                                {"1.2.3.5", "7.8.9.0", 0},  // the .0 address stays allowed
                                {"7.8.9.1", "7.8.9.255", 1},
                                {"7.8.10.0", "255.255.255.255", 0}});
  EXPECT_EQ(keeper.Filter()->export_filter(), expected);
  EXPECT_EQ(SessionFilter(), expected);

  // "Clear ban list" lifts every rule, in the session too.
  keeper.ClearBanList();
  EXPECT_EQ(keeper.Filter()->export_filter(), ip_filter().export_filter());
  EXPECT_EQ(SessionFilter(), ip_filter().export_filter());
}

TEST_F(IpFilterKeeperTest, MissingSessionOrFilterDoesNothing) {
  keeper.BanPeer(A("1.2.3.4"));  // neither
  keeper.BanPeerRange(A("1.2.3.4"));
  keeper.SetSession(&session);
  keeper.BanPeerRange(A("1.2.3.4"));  // no filter
  keeper.ClearBanList();
  EXPECT_EQ(keeper.Filter(), nullptr);
  EXPECT_FALSE(keeper.LoadIpFilter(file));
  EXPECT_FALSE(keeper.SaveIpFilter(file));
  keeper.SetSession(nullptr);
  keeper.CreateFilter();
  keeper.BanPeer(A("1.2.3.4"));  // no session
  keeper.BanPeerRange(A("1.2.3.4"));
  EXPECT_EQ(keeper.Filter()->export_filter(), ip_filter().export_filter());
  EXPECT_EQ(SessionFilter(), ip_filter().export_filter());
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(log.empty());
}

TEST_F(IpFilterKeeperTest, StartUpAndShutDownInFileMode) {
  dir.put(std::string(client::kIpFilterFileName), "# mine\r\n3.0.0.0-3.0.0.255,1,\r\n");
  keeper.CreateFilter();
  ASSERT_TRUE(keeper.LoadIpFilter(file));
  keeper.SetSession(&session);
  keeper.ApplyToSession();
  EXPECT_EQ(SessionFilter(), Read("3.0.0.0-3.0.0.255,1").export_filter());
  keeper.BanPeer(A("4.4.4.4"));

  // "This Session Only" keeps the file as it was.
  keeper.SetSessionOnly(true);
  EXPECT_FALSE(keeper.SaveIpFilter(file));
  EXPECT_EQ(client_test::temp_folder::read(file), "# mine\r\n3.0.0.0-3.0.0.255,1,\r\n");
  keeper.SetSessionOnly(false);
  ASSERT_TRUE(keeper.SaveIpFilter(file));
  EXPECT_EQ(client_test::temp_folder::read(file), IpFilterFileText(*keeper.Filter()));
  keeper.DeleteFilter();
  EXPECT_FALSE(keeper.SaveIpFilter(file));
}

TEST_F(IpFilterKeeperTest, MalformedLinesAreCountedAndTheRestIsKeptAndWrittenBack) {
  dir.put(std::string(client::kIpFilterFileName), "\r\n3.0.0.0-3.0.0.255,1,\r\n3.0.1.0-3.0.1.9\r\nrubbish\r\n"
                                                 "5.0.0.0-5.0.0.255,1,\r\n");
  keeper.CreateFilter();
  ASSERT_TRUE(keeper.LoadIpFilter(file));
  const auto rules = Read("3.0.0.0-3.0.0.255,1\n5.0.0.0-5.0.0.255,1").export_filter();
  EXPECT_EQ(keeper.Filter()->export_filter(), rules);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], L"IpAddress.FilterData: 2 malformed lines skipped");
  ASSERT_TRUE(keeper.SaveIpFilter(file));
  EXPECT_EQ(Read(client_test::temp_folder::read(file)).export_filter(), rules);

  // A file that cannot be written is told.
  log.clear();
  const auto folder = file / "IpAddress.FilterData";  // under a file: no folder can be made
  EXPECT_FALSE(keeper.SaveIpFilter(folder));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], L"cannot write " + client::Utf8ToWide(folder.string()));
}

TEST_F(IpFilterKeeperTest, RangeBanRoundTripThroughTheFile) {
  keeper.CreateFilter();
  keeper.SetSession(&session);
  keeper.BanPeerRange(A("1.2.3.4"));
  ASSERT_TRUE(keeper.SaveIpFilter(file));
  EXPECT_EQ(client_test::temp_folder::read(file), kComment +
                                                      "0.0.0.0 - 1.2.3.0, 128,\r\n"
                                                      "1.2.3.1 - 1.2.4.0, 1,\r\n"
                                                      "1.2.4.0 - 255.255.255.255, 128,\r\n");
  client::IpFilterKeeper next([](const std::wstring&) {});
  next.CreateFilter();
  ASSERT_TRUE(next.LoadIpFilter(file));
  EXPECT_EQ(next.Filter()->export_filter(), keeper.Filter()->export_filter());
}

TEST_F(IpFilterKeeperTest, ClearingTheBansDropsThoseOfEarlierRunsToo) {
  // The bans of an earlier run, saved at its shut-down.
  dir.put(std::string(client::kIpFilterFileName), "3.0.0.0-3.0.0.255,1,\r\n");
  keeper.ClearBanList();  // no filter: nothing
  EXPECT_EQ(keeper.Filter(), nullptr);
  keeper.CreateFilter();
  ASSERT_TRUE(keeper.LoadIpFilter(file));
  keeper.SetSession(&session);
  keeper.BanPeer(A("4.4.4.4"));
  keeper.ClearBanList();
  EXPECT_EQ(keeper.Filter()->export_filter(), ip_filter().export_filter());
  EXPECT_EQ(SessionFilter(), ip_filter().export_filter());
  // The file stays as it was until the shut-down writes the empty filter.
  EXPECT_EQ(client_test::temp_folder::read(file), "3.0.0.0-3.0.0.255,1,\r\n");
  ASSERT_TRUE(keeper.SaveIpFilter(file));
  EXPECT_EQ(client_test::temp_folder::read(file), kComment + "0.0.0.0 - 255.255.255.255, 128,\r\n");
}

// The filter in the store's ip_filter table (needs the test server).
class IpFilterOnDatabase : public store_test::StoreServerTest {};

TEST_F(IpFilterOnDatabase, LoadsRowsInIdOrderAndSkipsBadOnes) {
  std::vector<std::wstring> log;
  client::IpFilterKeeper keeper([&](const std::wstring& line) { log.push_back(line); });
  keeper.SetStore(db.get());
  keeper.CreateFilter();
  // An empty table: nothing read, and no error text to show.
  EXPECT_FALSE(keeper.LoadIpFilter("unused"));
  EXPECT_TRUE(log.empty());

  // Inserted out of id order: row 2's start is row 1's shared ".0" end, so
  // only reading in id order gives 10.1.3.0 to row 2.
  for (const char* row : {"(2,'10.1.3.0','255.255.255.255',128)", "(1,'0.0.0.0','10.1.3.0',1)",
                          "(3,'x.1.2.3','20.0.0.0',1)", "(4,'30.0.0.9','30.0.0.1',1)",
                          "(5,' 40.0.0.1','40.0.0.2 ',127)"})
    ASSERT_TRUE(raw->execute(std::string("INSERT ip_filter (id,ip_start,ip_end,flags) VALUES ") + row)) << raw->error();
  ASSERT_TRUE(keeper.LoadIpFilter("unused"));
  EXPECT_EQ(keeper.Filter()->export_filter(), Ranges({{"0.0.0.0", "10.1.2.255", 1},
                                                       {"10.1.3.0", "40.0.0.0", 0},
                                                       {"40.0.0.1", "40.0.0.2", 1},
                                                       {"40.0.0.3", "255.255.255.255", 0}}));
  EXPECT_TRUE(log.empty());
}

TEST_F(IpFilterOnDatabase, SaveRewritesTheTable) {
  client::IpFilterKeeper keeper([](const std::wstring&) {});
  keeper.SetStore(db.get());
  keeper.CreateFilter();
  engine::session session(engine::fingerprint("QF", 1, 3, 0, 55));
  keeper.SetSession(&session);
  keeper.BanPeerRange(A("10.1.2.3"));
  ASSERT_TRUE(keeper.SaveIpFilter("unused"));
  keeper.BanPeer(A("50.0.0.5"));
  ASSERT_TRUE(keeper.SaveIpFilter("unused"));  // the ids start at 1 again
  const auto at_save = keeper.Filter()->export_filter();
  const store_test::rows expected = {{"1", "0.0.0.0", "10.1.2.0", "128"},
                                     {"2", "10.1.2.1", "10.1.3.0", "1"},  // the shared ".0" end
                                     {"3", "10.1.3.0", "50.0.0.4", "128"},
                                     {"4", "50.0.0.5", "50.0.0.5", "1"},
                                     {"5", "50.0.0.6", "255.255.255.255", "128"}};
  EXPECT_EQ(raw->query("SELECT id,ip_start,ip_end,flags FROM ip_filter ORDER BY id"), expected);

  // "This Session Only" leaves the table alone.
  keeper.BanPeer(A("99.0.0.1"));
  keeper.SetSessionOnly(true);
  EXPECT_FALSE(keeper.SaveIpFilter("unused"));
  EXPECT_EQ(raw->count("ip_filter"), 5u);

  // Reading back gives the filter that was saved.
  client::IpFilterKeeper reader([](const std::wstring&) {});
  reader.SetStore(db.get());
  reader.CreateFilter();
  ASSERT_TRUE(reader.LoadIpFilter("unused"));
  EXPECT_EQ(reader.Filter()->export_filter(), at_save);
}

TEST_F(IpFilterOnDatabase, StoreFailureIsLogged) {
  auto broken = connect("not the password");
  ASSERT_FALSE(broken->IsConnected());
  std::vector<std::wstring> log;
  client::IpFilterKeeper keeper([&](const std::wstring& line) { log.push_back(line); });
  keeper.SetStore(broken.get());
  keeper.CreateFilter();
  EXPECT_FALSE(keeper.LoadIpFilter("unused"));
  EXPECT_FALSE(keeper.SaveIpFilter("unused"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], client::Utf16ToWide(broken->GetLastError()));
  EXPECT_FALSE(log[0].empty());
}

}  // namespace
