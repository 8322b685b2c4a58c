#include "client/net/net_workers.h"
#include "client/net/url_download.h"
#include "tests/client/net/http_test_server.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

using client::DownloadTorrentThreadProc;
using client::TorrentFileNameFor;
using client_test::http_test_server;
namespace fs = std::filesystem;

namespace {

TEST(TorrentFileName, FromTheUrlOrTheContentDisposition) {
  EXPECT_EQ(TorrentFileNameFor("http://h/a/b.torrent", ""), "b.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/dl.php?id=abc", ""), "abc.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/a/b?x", ""), "x.torrent");
  EXPECT_EQ(TorrentFileNameFor("https://h/f.torrent#top", ""), "f.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/A.TORRENT", ""), "A.TORRENT.torrent");  // case counts
  // Nothing of a name left: never a hidden file.
  EXPECT_EQ(TorrentFileNameFor("http://h/", ""), "download.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h", ""), "download.torrent");

  EXPECT_EQ(TorrentFileNameFor("http://h/dl?id=abc", "attachment; filename=\"My Linux.torrent\""), "My Linux.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/dl?id=abc", "attachment; filename=\"notes\"; size=9"), "notes.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/dl?id=abc", "attachment; filename=plain.torrent; size=9"), "plain.torrent");
  // Names with :\<>? or a folder in them are refused.
  for (const char* bad : {"c:x.torrent", "a\\b.torrent", "<b>.torrent", "a>b", "why?.torrent", "../../.bashrc"})
    EXPECT_EQ(TorrentFileNameFor("http://h/dl?id=abc", std::string("attachment; filename=\"") + bad + "\""),
              "abc.torrent")
        << bad;
  // Names that decode to a path, to nothing or to a hidden file are cut to
  // a plain base name that the adding decodes no further.
  const auto named = [](const std::string& url, const std::string& name) {
    return TorrentFileNameFor(url, "attachment; filename=\"" + name + "\"");
  };
  EXPECT_EQ(named("http://h/dl?id=abc", "..%2Fx.torrent"), "x.torrent");
  EXPECT_EQ(named("http://h/dl?id=abc", "..%2F..%5Cx"), "x.torrent");
  EXPECT_EQ(named("http://h/dl?id=abc", "%252E%252E%252Fdeep.torrent"), "deep.torrent");  // decoded until none is left
  EXPECT_EQ(named("http://h/dl?id=abc", "My%20Film.torrent"), "My Film.torrent");
  EXPECT_EQ(named("http://h/dl?id=abc", "nul%00.torrent"), "nul.torrent");
  for (const char* empty : {"%2e%2e%2f", "", "..", ".", ".torrent", "...torrent", "%2F"})
    EXPECT_EQ(named("http://h/dl?id=abc", empty), "abc.torrent") << empty;
  EXPECT_EQ(named("http://h/", ".."), "download.torrent");
  EXPECT_EQ(named("http://h/", ".hidden.torrent"), "hidden.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/a%2F..%2F.x.torrent", ""), "x.torrent");
  EXPECT_EQ(TorrentFileNameFor("http://h/get?id=%2e%2e", ""), "download.torrent");
  // Cut to fit one file name (255 bytes), not inside a UTF-8 character.
  std::string long_name;
  while (long_name.size() < 300) long_name += "\xc3\xa9";
  const std::string cut = named("http://h/x", long_name + ".torrent");
  EXPECT_LE(cut.size(), 255u);
  EXPECT_GE(cut.size(), 254u);
  EXPECT_TRUE(cut.ends_with("\xc3\xa9.torrent"));
}

// What a download job reported, from whichever thread.
class recorder {
 public:
  client::DownloadPosts posts() {
    return {[this](const std::wstring& line) {
              std::lock_guard<std::mutex> lock(m_mutex);
              m_lines.push_back(line);
            },
            [this](const fs::path& file) {
              std::lock_guard<std::mutex> lock(m_mutex);
              m_files.push_back(file);
            }};
  }
  std::vector<std::wstring> lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
  }
  std::vector<fs::path> files() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files;
  }
  bool has_line(const std::wstring& line) const {
    const auto all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::wstring> m_lines;
  std::vector<fs::path> m_files;
};

std::wstring W(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = char('a' + i % 26);
  return s;
}

class UrlDownload : public ::testing::Test {
 protected:
  void Download(const std::string& url) {
    client::HttpCancel cancel;
    DownloadTorrentThreadProc({url, temp.path(), {}}, posts, cancel);
  }
  bool TempIsEmpty() const { return fs::directory_iterator(temp.path()) == fs::directory_iterator(); }

  client_test::temp_folder temp{"qf_download_"};
  recorder rec;
  client::DownloadPosts posts = rec.posts();
};

TEST_F(UrlDownload, FollowsRedirectsAndHandsTheFileOn) {
  const std::string body = Bytes(3000);
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    if (path == "/get.php?id=abc")
      c.reply("302 Found", "Location: /moved\r\n", "moved");
    else if (path == "/moved")
      c.reply("301 Moved Permanently", "Location: /files/real\r\n", "");
    else if (path == "/files/real")
      c.reply("200 OK", "", body);
    else if (path.starts_with("/loop"))  // never ends
      c.reply("307 Temporary Redirect", "Location: /loop" + std::to_string(path.size()) + "\r\n", "");
  });
  Download(server.url("/get.php?id=abc"));
  EXPECT_EQ(rec.lines(), (std::vector<std::wstring>{L"Connecting to server ...", L"Download finished, 2 KBytes"}));
  ASSERT_EQ(rec.files(), std::vector<fs::path>{temp / "abc.torrent"});
  EXPECT_EQ(client_test::temp_folder::read(temp / "abc.torrent"), body);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) EXPECT_NE(r.find("\r\nUser-Agent: Quillfern\r\n"), std::string::npos) << r;

  // A chain that never ends is given up.
  Download(server.url("/loop"));
  EXPECT_EQ(rec.lines().back().rfind(L"Download failed. ", 0), 0u) << rec.lines().back();
  EXPECT_EQ(rec.files().size(), 1u);
}

// A second download of the same name, while the first waits to be added,
// and a link planted under the name: each download is a new file of its
// own, and nothing is written through the link.
TEST_F(UrlDownload, SavesEachDownloadAsANewFileOfItsOwn) {
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    c.reply("200 OK", "", path == "/a/same.torrent" ? "first" : "second");
  });
  Download(server.url("/a/same.torrent"));
  Download(server.url("/b/same.torrent"));
  ASSERT_EQ(rec.files().size(), 2u);
  EXPECT_EQ(rec.files()[0], temp / "same.torrent");
  EXPECT_EQ(rec.files()[1].filename(), "same.torrent");
  EXPECT_EQ(rec.files()[1].parent_path().parent_path(), temp.path());
  EXPECT_EQ(client_test::temp_folder::read(rec.files()[0]), "first");
  EXPECT_EQ(client_test::temp_folder::read(rec.files()[1]), "second");
  EXPECT_EQ(fs::status(rec.files()[1]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  client_test::temp_folder victim("qf_victim_");
  const fs::path target = victim.put("bashrc", "mine");
  fs::create_symlink(target, temp / "planted.torrent");
  Download(server.url("/planted.torrent"));
  ASSERT_EQ(rec.files().size(), 3u);
  EXPECT_NE(rec.files()[2], temp / "planted.torrent");
  EXPECT_EQ(client_test::temp_folder::read(target), "mine");
  EXPECT_EQ(client_test::temp_folder::read(rec.files()[2]), "second");
}

TEST_F(UrlDownload, NamesAndFailures) {
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    if (path == "/named")
      c.reply("200 OK", "Content-Disposition: attachment; filename=\"Debian 12.torrent\"\r\n", "d4:infoe");
    else if (path == "/short")  // promises more than it sends
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + Bytes(5000));
    else if (path == "/to-file")
      c.reply("302 Found", "Location: file:///etc/hostname\r\n", "");
    else
      c.reply("404 Not Found", "", "no such file");
  });
  Download(server.url("/named"));
  EXPECT_EQ(rec.files(), std::vector<fs::path>{temp / "Debian 12.torrent"});

  const std::string missing = server.url("/missing.torrent");
  Download(missing);
  EXPECT_EQ(rec.lines().back(), W(missing) + L" download failed (http code 404)");

  // A cut transfer is a failure, not a finished file.
  Download(server.url("/short"));
  EXPECT_EQ(rec.lines().back().rfind(L"Download failed. ", 0), 0u) << rec.lines().back();

  // Nothing listens on a port that was just given up.
  std::uint16_t free_port = 0;
  ::close(client_test::loopback_listener(free_port));
  const std::string nobody = "http://127.0.0.1:" + std::to_string(free_port) + "/x.torrent";
  Download(nobody);
  EXPECT_EQ(rec.lines().back(), W(nobody) + L" download failed (no server connection)");

  // Only http and https, also where a redirect leads.
  for (const std::string& url : {std::string("file:///etc/hostname"),
                                 "ftp://127.0.0.1:" + std::to_string(server.port()) + "/x.torrent",
                                 server.url("/to-file")}) {
    Download(url);
    EXPECT_EQ(rec.lines().back().rfind(L"Download failed. ", 0), 0u) << url;
  }
  EXPECT_EQ(rec.files().size(), 1u);
  EXPECT_EQ(server.requests().size(), 4u);  // named, missing, short, to-file
}

TEST_F(UrlDownload, StopsAfterFiveMebibytes) {
  // No Content-Length: the reply would run until the connection ends.
  std::atomic<std::size_t> sent{0};
  http_test_server server([&](const std::string&, http_test_server::connection& c) {
    if (!c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
    const std::string block = Bytes(64 * 1024);
    while (sent < 16u * 1024 * 1024 && c.send(block)) sent += block.size();
  });
  Download(server.url("/big.torrent"));
  // Copied in 1024-byte blocks until more than 5242880 bytes arrived.
  EXPECT_EQ(rec.lines().back(), L"Download finished, 5121 KBytes");
  ASSERT_EQ(rec.files().size(), 1u);
  EXPECT_EQ(fs::file_size(rec.files()[0]), 5242880u + 1024u);
  EXPECT_LT(sent.load(), 16u * 1024 * 1024);

  // A reply of 6 MB that says so is cut at the same place.
  http_test_server sized([&](const std::string&, http_test_server::connection& c) {
    c.reply("200 OK", "", Bytes(6 * 1024 * 1024));
  });
  Download(sized.url("/six.torrent"));
  EXPECT_EQ(rec.lines().back(), L"Download finished, 5121 KBytes");
  ASSERT_EQ(rec.files().size(), 2u);
  EXPECT_EQ(client_test::temp_folder::read(rec.files()[1]), Bytes(5242880 + 1024));
}

// An https server with a certificate made for this test: refused while the
// certificate is unknown, downloaded once it is trusted.
TEST_F(UrlDownload, HttpsWithASelfSignedCertificate) {
  if (!fs::exists("/usr/bin/openssl") || !fs::exists("/usr/bin/python3"))
    GTEST_FAIL() << "openssl and python3 make the test's https server";
  const fs::path cert = temp / "cert.pem", key = temp / "key.pem";
  const std::string make = "/usr/bin/openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                           "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " + key.string() +
                           " -out " + cert.string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  client_test::https_test_server server(cert, key, Bytes(3000));
  ASSERT_TRUE(server.ok());
  const std::string url = server.url("/secure.torrent");
  client::HttpCancel cancel;
  DownloadTorrentThreadProc({url, temp.path(), {}}, posts, cancel);
  EXPECT_EQ(rec.lines().back().rfind(L"Download failed. ", 0), 0u) << rec.lines().back();
  EXPECT_TRUE(rec.files().empty());

  client::HttpSettings trusting;
  trusting.ca_file = cert.string();
  DownloadTorrentThreadProc({url, temp.path(), trusting}, posts, cancel);
  EXPECT_EQ(rec.lines().back(), L"Download finished, 2 KBytes");
  ASSERT_EQ(rec.files(), std::vector<fs::path>{temp / "secure.torrent"});
  EXPECT_EQ(client_test::temp_folder::read(temp / "secure.torrent"), Bytes(3000));
}

TEST_F(UrlDownload, ReportsProgressWithAndWithoutSize) {
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    const bool sized = path == "/sized";
    c.send(std::string("HTTP/1.1 200 OK\r\n") + (sized ? "Content-Length: 4096\r\n" : "Connection: close\r\n") +
           "\r\n" + Bytes(1000));
    // The rest only once the client told the user how far it got.
    if (c.wait_until([&] { return rec.has_line(sized ? L"Downloading ... 1000/4096 bytes" : L"Downloading ... 1000 bytes"); }))
      c.send(Bytes(sized ? 3096 : 500));
  });
  client::NetWorkers workers;
  EXPECT_FALSE(client::StartTorrentDownload(workers, {"", temp.path(), {}}, posts));
  ASSERT_TRUE(client::StartTorrentDownload(workers, {server.url("/sized"), temp.path(), {}}, posts));
  Download(server.url("/unsized"));

  ASSERT_TRUE(client_test::wait_until([&] {
    workers.Reap();
    return workers.Count() == 0;
  }));
  EXPECT_TRUE(rec.has_line(L"Downloading ... 1000/4096 bytes"));
  EXPECT_TRUE(rec.has_line(L"Downloading ... 1000 bytes"));
  EXPECT_TRUE(rec.has_line(L"Download finished, 4 KBytes"));
  EXPECT_TRUE(rec.has_line(L"Download finished, 1 KBytes"));
  EXPECT_EQ(fs::file_size(temp / "sized.torrent"), 4096u);
  EXPECT_EQ(fs::file_size(temp / "unsized.torrent"), 1500u);
}

TEST_F(UrlDownload, ClosingTheOwnerAbortsAndJoins) {
  std::atomic<bool> client_closed{false};
  http_test_server server([&](const std::string&, http_test_server::connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + Bytes(1000));
    client_closed = c.wait_closed();  // the rest never comes
  });
  auto workers = std::make_unique<client::NetWorkers>();
  client::StartTorrentDownload(*workers, {server.url("/stalled.torrent"), temp.path(), {}}, posts);
  ASSERT_TRUE(client_test::wait_until([&] { return rec.has_line(L"Downloading ... 1000/100000 bytes"); }));

  // The owner goes away mid-transfer: its workers end without waiting for
  // the server, and report nothing more.
  auto closing = std::async(std::launch::async, [&] { workers.reset(); });
  ASSERT_EQ(closing.wait_for(test_support::default_deadline), std::future_status::ready);
  const auto lines = rec.lines();
  EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](const std::wstring& l) {
    return l == L"Connecting to server ..." || l.rfind(L"Downloading ... ", 0) == 0;
  }));
  EXPECT_TRUE(rec.files().empty());
  EXPECT_TRUE(TempIsEmpty());
  EXPECT_TRUE(client_test::wait_until([&] { return client_closed.load(); }));
}

}  // namespace

namespace {

// Servers that hold a download: a head and then nothing, a head cut off in
// the middle, a trickle of bytes, and a steady reply that never ends. Each
// is given up with a line that names the link, and nothing is handed on.
TEST_F(UrlDownload, StallsAndTricklesAreGivenUp) {
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    if (path == "/head-only.torrent") {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n");
    } else if (path == "/half-head.torrent") {
      c.send("HTTP/1.1 200 OK\r\nContent-Le");
    } else if (path == "/trickle.torrent") {
      // About 5 bytes a second.
      if (!c.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n")) return;
      for (int i = 0; i < 1000 && c.send("x"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return;
    } else if (path == "/endless.torrent") {
      // Fast enough for the speed bound, but never done.
      if (!c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
      for (int i = 0; i < 1000 && c.send(Bytes(64)); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    c.wait_closed();
  });
  client::HttpSettings slow;
  slow.low_speed_bytes = 100;
  slow.low_speed_seconds = 1;
  for (const char* path : {"/head-only.torrent", "/half-head.torrent", "/trickle.torrent"}) {
    SCOPED_TRACE(path);
    const std::string url = server.url(path);
    client::HttpCancel cancel;
    DownloadTorrentThreadProc({url, temp.path(), slow}, posts, cancel);
    EXPECT_EQ(rec.lines().back(), W(url) + L" download failed (too slow)");
  }
  client::HttpSettings bounded;
  bounded.total_timeout_ms = 1500;
  const std::string endless = server.url("/endless.torrent");
  client::HttpCancel cancel;
  DownloadTorrentThreadProc({endless, temp.path(), bounded}, posts, cancel);
  EXPECT_EQ(rec.lines().back(), W(endless) + L" download failed (too slow)");
  EXPECT_TRUE(rec.files().empty());
  EXPECT_TRUE(TempIsEmpty());

  // A link's download is bounded so without being told.
  const client::DownloadRequest plain{endless, temp.path()};
  EXPECT_EQ(plain.http.low_speed_bytes, client::kDownloadLowSpeedBytes);
  EXPECT_EQ(plain.http.low_speed_seconds, client::kDownloadLowSpeedSeconds);
  EXPECT_EQ(plain.http.total_timeout_ms, client::kDownloadTimeLimitMs);
  EXPECT_EQ(plain.http.connect_timeout_ms, 20000);
}

// Many links at once: only a few download at a time, the rest wait their
// turn and all arrive; closing the owner ends the running ones and starts
// none of those still waiting.
TEST_F(UrlDownload, AFewAtATimeAndTheRestWait) {
  std::mutex mutex;
  int serving = 0, most = 0;
  std::atomic<bool> open_gate{false};
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      most = std::max(most, ++serving);
    }
    if (path.starts_with("/held")) c.wait_until([&] { return open_gate.load(); });
    {
      std::lock_guard<std::mutex> lock(mutex);
      --serving;
    }
    c.reply("200 OK", "", "d4:infoe" + path);
  });
  auto workers = std::make_unique<client::NetWorkers>();
  client::DownloadQueue queue(3);
  EXPECT_FALSE(queue.Start(*workers, {"", temp.path(), {}}, posts));
  for (int i = 0; i < 12; ++i)
    ASSERT_TRUE(queue.Start(*workers, {server.url("/held" + std::to_string(i) + ".torrent"), temp.path(), {}}, posts));
  EXPECT_LE(workers->Count(), 3u);
  ASSERT_TRUE(client_test::wait_until([&] { return server.requests().size() == 3; }));
  EXPECT_EQ(queue.Running(), 3u);
  EXPECT_EQ(queue.Waiting(), 9u);
  open_gate = true;
  ASSERT_TRUE(client_test::wait_until([&] { return rec.files().size() == 12; }));
  EXPECT_TRUE(client_test::wait_until([&] { return queue.Running() == 0; }));
  EXPECT_EQ(queue.Waiting(), 0u);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(most, 3);
  }
  // The first three given ran first.
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 12u);
  for (int i = 0; i < 3; ++i) {
    const std::string wanted = "GET /held" + std::to_string(i) + ".torrent ";
    EXPECT_TRUE(std::any_of(requests.begin(), requests.begin() + 3,
                            [&](const std::string& r) { return r.starts_with(wanted); })) << wanted;
  }

  // Again, and the owner closes while they are held.
  open_gate = false;
  for (int i = 0; i < 10; ++i)
    queue.Start(*workers, {server.url("/held-again" + std::to_string(i) + ".torrent"), temp.path(), {}}, posts);
  ASSERT_TRUE(client_test::wait_until([&] { return server.requests().size() == 15; }));
  auto closing = std::async(std::launch::async, [&] { workers.reset(); });
  ASSERT_EQ(closing.wait_for(test_support::default_deadline), std::future_status::ready);
  EXPECT_EQ(queue.Running(), 0u);
  EXPECT_EQ(queue.Waiting(), 7u);
  EXPECT_EQ(rec.files().size(), 12u);
  EXPECT_EQ(server.requests().size(), 15u);
}

}  // namespace
