#include "store/mysql_client.h"
#include "store/torrent_database.h"

#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

namespace {

const char* const real_library = "libmariadb.so.3";

// Points the loader at `path` for the test's lifetime.
struct library_path {
  explicit library_path(const char* path) { store::mysql::set_client_library_path(path); }
  ~library_path() { store::mysql::set_client_library_path(real_library); }
};

void expect_absent_store(CTorrentDatabase& db) {
  EXPECT_FALSE(db.IsConnected());
  EXPECT_EQ(db.TorrentData(), nullptr);
  EXPECT_EQ(db.ResumeData(), nullptr);
  EXPECT_EQ(db.PieceSelection(), nullptr);
  EXPECT_EQ(db.Trackers(), nullptr);
  EXPECT_EQ(db.IpFilter(), nullptr);
  EXPECT_EQ(db.AutoDestinations(), nullptr);
  EXPECT_EQ(db.Nodes(), nullptr);
  EXPECT_FALSE(db.SaveTorrent());
}

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

}  // namespace

TEST(StoreClientLibrary, MissingLibraryMeansNoDatabase) {
  library_path missing("/nonexistent/quillfern/libmariadb.so.3");
  EXPECT_FALSE(CTorrentDatabase::IsClientLibraryAvailable());
  CTorrentDatabase db(u"127.0.0.1", 3306, u"Quillfern", u"");
  expect_absent_store(db);
  EXPECT_EQ(db.GetLastError(), u"No database");
}

TEST(StoreClientLibrary, LibraryLackingTheCallsCountsAsMissing) {
  library_path other("libz.so.1");  // loads, but exports none of the twelve calls
  EXPECT_FALSE(CTorrentDatabase::IsClientLibraryAvailable());
  CTorrentDatabase db(u"127.0.0.1", 3306, u"Quillfern", u"");
  expect_absent_store(db);
  EXPECT_EQ(db.GetLastError(), u"No database");
}

TEST(StoreClientLibrary, SecondStoreBindsNothingAgain) {
  library_path real(real_library);
  if (!CTorrentDatabase::IsClientLibraryAvailable()) GTEST_FAIL() << real_library << " is not installed";
  // Port 1 on loopback refuses: the binding happens, the connection fails.
  CTorrentDatabase first(u"127.0.0.1", 1, u"Quillfern", u"");
  const int binds = store::mysql::client_library_bind_count();
  EXPECT_GE(binds, 1);
  const auto* api = store::mysql::bind_client_library();
  CTorrentDatabase second(u"127.0.0.1", 1, u"Quillfern", u"");
  EXPECT_EQ(store::mysql::client_library_bind_count(), binds);
  EXPECT_EQ(store::mysql::bind_client_library(), api);
  EXPECT_TRUE(CTorrentDatabase::IsClientLibraryAvailable());
}

TEST(StoreClientLibrary, RefusedConnectionReportsTheLibrarysText) {
  library_path real(real_library);
  if (!CTorrentDatabase::IsClientLibraryAvailable()) GTEST_FAIL() << real_library << " is not installed";
  CTorrentDatabase db(u"127.0.0.1", 1, u"Quillfern", u"");
  expect_absent_store(db);
  const std::string error = narrow(db.GetLastError());
  EXPECT_NE(error, "No database");
  EXPECT_NE(error.find("127.0.0.1"), std::string::npos) << error;
}

class StoreConnection : public store_test::StoreServerTest {};

TEST_F(StoreConnection, WrongPasswordLeavesNoTables) {
  auto refused = connect("not-the-password");
  expect_absent_store(*refused);
  const std::string error = narrow(refused->GetLastError());
  EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
  // The good connection is unaffected.
  EXPECT_TRUE(db->IsConnected());
  EXPECT_NE(db->TorrentData(), nullptr);
  EXPECT_NE(db->Nodes(), nullptr);
}

TEST_F(StoreConnection, FailedStatementLeavesTheServersText) {
  ASSERT_TRUE(raw->execute("ALTER TABLE trackers RENAME TO trackers_away"));
  EXPECT_FALSE(db->Trackers()->SelectByTorrent(1));
  const std::string error = narrow(db->GetLastError());
  EXPECT_TRUE(raw->execute("ALTER TABLE trackers_away RENAME TO trackers"));
  EXPECT_NE(error.find("trackers"), std::string::npos) << error;
}
