#include "client/net/update_check.h"
#include "platform/profile.h"
#include "tests/client/net/http_test_server.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <mutex>

using client::UpdateCheckLine;
using client_test::http_test_server;

namespace {

TEST(UpdateCheckReply, ComparesOnlyTheBuild) {
  EXPECT_EQ(UpdateCheckLine("1.3.0.60\nFaster downloads\n", 55),
            L"Quillfern Version 1.3.0 Build 60 is available. (Faster downloads)");
  // Whatever the first three numbers are.
  EXPECT_EQ(UpdateCheckLine("0.9.0.60\r\nNew icons\r\nmore text\r\n", 55),
            L"Quillfern Version 0.9.0 Build 60 is available. (New icons)");
  EXPECT_EQ(UpdateCheckLine("1.3.0.56", 55), L"Quillfern Version 1.3.0 Build 56 is available. ()");
  EXPECT_EQ(UpdateCheckLine("1.3.0.55\nsame\n", 55), L"Quillfern is up to date!");
  EXPECT_EQ(UpdateCheckLine("9.9.9.54\nolder\n", 55), L"Quillfern is up to date!");
  EXPECT_EQ(UpdateCheckLine("1.3.0.60\nSch\xc3\xb6n\n", 55), L"Quillfern Version 1.3.0 Build 60 is available. (Sch\u00f6n)");
  EXPECT_EQ(UpdateCheckLine("<html>1.3.0.60</html>\n", 55), std::nullopt);
  EXPECT_EQ(UpdateCheckLine("1.3.0\n60\n", 55), std::nullopt);
  EXPECT_EQ(UpdateCheckLine("", 55), std::nullopt);
  // Only the first 512 bytes count.
  EXPECT_EQ(UpdateCheckLine(std::string(512, '\n') + "1.3.0.60\n", 55), std::nullopt);
}

TEST(UpdateCheckReply, RequestFromTheProfileAndTheVersion) {
  client_test::temp_folder dir("qf_update_");
  platform::profile profile(dir / "Quillfern.ini");
  EXPECT_EQ(client::UpdateCheckRequestFor(profile).url, "http://quillfern.example.org/currentversion.txt");
  EXPECT_EQ(client::UpdateCheckRequestFor(profile).own_build, 55);
  profile.WriteProfileString("Configuration", "Update URL", "http://127.0.0.1:1/currentversion.txt");
  EXPECT_EQ(client::UpdateCheckRequestFor(profile).url, "http://127.0.0.1:1/currentversion.txt");
}

// The check against a server on loopback, on a worker as the window runs it.
std::vector<std::wstring> Check(const std::string& url, long timeout_ms = 10000) {
  std::mutex mutex;
  std::vector<std::wstring> lines;
  client::NetWorkers workers;
  client::StartUpdateCheck(workers, {url, 55, {2000, timeout_ms, {}}}, [&](const std::wstring& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  });
  EXPECT_TRUE(client_test::wait_until([&] {
    workers.Reap();
    return workers.Count() == 0;
  }));
  std::lock_guard<std::mutex> lock(mutex);
  return lines;
}

TEST(UpdateCheck, AgainstAServer) {
  http_test_server server([](const std::string& path, http_test_server::connection& c) {
    if (path == "/newer/currentversion.txt")
      c.reply("200 OK", "", "1.3.0.60\r\nBetter peers\r\n");
    else if (path == "/same/currentversion.txt")
      c.reply("200 OK", "", "1.3.0.55\n");
    else if (path == "/garbage/currentversion.txt")
      c.reply("200 OK", "", "<html>Not here</html>");
    else if (path == "/moved/currentversion.txt")
      c.reply("301 Moved", "Location: /newer/currentversion.txt\r\n", "");
    else if (path == "/silent/currentversion.txt")
      c.wait_closed();  // never answers
    else
      c.reply("404 Not Found", "", "1.3.0.99\n");
  });
  EXPECT_EQ(Check(server.url("/newer/currentversion.txt")),
            std::vector<std::wstring>{L"Quillfern Version 1.3.0 Build 60 is available. (Better peers)"});
  EXPECT_EQ(Check(server.url("/moved/currentversion.txt")),
            std::vector<std::wstring>{L"Quillfern Version 1.3.0 Build 60 is available. (Better peers)"});
  EXPECT_EQ(Check(server.url("/same/currentversion.txt")), std::vector<std::wstring>{L"Quillfern is up to date!"});
  // Failures say nothing.
  EXPECT_TRUE(Check(server.url("/garbage/currentversion.txt")).empty());
  EXPECT_TRUE(Check(server.url("/gone/currentversion.txt")).empty());
  EXPECT_TRUE(Check(server.url("/silent/currentversion.txt"), 300).empty());
  EXPECT_TRUE(Check("file:///etc/hostname").empty());
  for (const auto& request : server.requests())
    EXPECT_NE(request.find("\r\nUser-Agent: Quillfern\r\n"), std::string::npos);
}

}  // namespace
