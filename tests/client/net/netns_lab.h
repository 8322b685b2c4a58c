#pragma once
// A private network namespace for the tests that need a router: veth links
// with addresses of their own, a real UPnP gateway (miniupnpd) and the
// nftables chains it writes its rules into. Nothing in it reaches the
// host's network. Needs root and the "ip" tool; why() says what is missing.

#include <arpa/inet.h>  // before the linux/ headers, which then leave its types alone
#include <fcntl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/wait.h"

extern char** environ;

namespace netns_lab {

inline const char* const kIp = "/usr/sbin/ip";
inline const char* const kMiniupnpd = "/usr/sbin/miniupnpd";

// Starts `argv` with its output going to `output`; -1 when it cannot start.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& output = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline int WaitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool Run(const std::vector<std::string>& argv) {
  const pid_t pid = Spawn(argv);
  return pid > 0 && WaitExit(pid) == 0;
}

// Ends a child we started: SIGTERM, then SIGKILL when it does not go within
// ten seconds.
inline void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  if (test_support::wait_until([&] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, std::chrono::seconds(10),
                               std::chrono::milliseconds(20)))
    return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

class Namespace {
 public:
  Namespace() {
    static std::atomic<int> counter{0};
    m_name = "qf-upnp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (::geteuid() != 0) {
      m_why = "network namespaces need root";
    } else if (!std::filesystem::exists(kIp)) {
      m_why = std::string(kIp) + " is missing";
    } else if (!Run({kIp, "netns", "add", m_name})) {
      m_why = "ip netns add failed";
    } else {
      m_made = true;
      if (!Ip({"link", "set", "lo", "up"})) m_why = "the namespace's loopback does not come up";
    }
  }
  ~Namespace() {
    if (m_made) Run({kIp, "netns", "delete", m_name});
  }
  Namespace(const Namespace&) = delete;
  Namespace& operator=(const Namespace&) = delete;

  bool ok() const { return m_why.empty(); }
  const std::string& why() const { return m_why; }
  const std::string& name() const { return m_name; }

  bool Ip(std::vector<std::string> args) {
    args.insert(args.begin(), {kIp, "-n", m_name});
    return Run(args);
  }
  // A veth pair, both ends up, `a` with `address` ("10.77.0.1/24").
  bool Veth(const std::string& a, const std::string& b, const std::string& address) {
    return Ip({"link", "add", a, "type", "veth", "peer", "name", b}) && Ip({"addr", "add", address, "dev", a}) &&
           Ip({"link", "set", a, "up"}) && Ip({"link", "set", b, "up"});
  }

  // Runs `body` on a thread inside the namespace: the sockets and threads it
  // makes belong to the namespace.
  void Inside(const std::function<void()>& body) {
    std::thread t([&] {
      const int fd = ::open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
      const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
      if (fd >= 0) ::close(fd);
      if (!entered) {
        ADD_FAILURE() << "cannot enter " << m_name << ": " << std::strerror(errno);
        return;
      }
      body();
    });
    t.join();
  }

 private:
  std::string m_name;
  std::string m_why;
  bool m_made = false;
};

// Creates the inet table `table` with the plain chains `chains` through
// nfnetlink, for the namespace of the calling thread. False when the kernel
// refuses (no nftables).
inline bool CreateNftChains(const std::string& table, const std::vector<std::string>& chains) {
  std::vector<char> batch;
  std::uint32_t seq = 1;
  auto message = [&](std::uint16_t type, std::uint16_t flags, std::uint8_t family,
                     const std::vector<std::pair<std::uint16_t, std::string>>& attrs) {
    const std::size_t start = batch.size();
    batch.resize(start + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(nfgenmsg)));
    for (const auto& [kind, text] : attrs) {
      const std::size_t at = batch.size();
      const std::size_t length = NLA_HDRLEN + text.size() + 1;
      batch.resize(at + NLA_ALIGN(length));
      nlattr attribute{static_cast<std::uint16_t>(length), kind};
      std::memcpy(&batch[at], &attribute, sizeof attribute);
      std::memcpy(&batch[at + NLA_HDRLEN], text.c_str(), text.size() + 1);
    }
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(batch.size() - start);
    header.nlmsg_type = type;
    header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
    header.nlmsg_seq = seq++;
    nfgenmsg generic{family, NFNETLINK_V0, htons(NFNL_SUBSYS_NFTABLES)};
    std::memcpy(&batch[start], &header, sizeof header);
    std::memcpy(&batch[start + NLMSG_HDRLEN], &generic, sizeof generic);
  };
  const auto nft = [](int kind) { return static_cast<std::uint16_t>(NFNL_SUBSYS_NFTABLES << 8 | kind); };
  message(NFNL_MSG_BATCH_BEGIN, 0, AF_UNSPEC, {});
  message(nft(NFT_MSG_NEWTABLE), NLM_F_CREATE | NLM_F_ACK, NFPROTO_INET, {{NFTA_TABLE_NAME, table}});
  for (const auto& chain : chains)
    message(nft(NFT_MSG_NEWCHAIN), NLM_F_CREATE | NLM_F_ACK, NFPROTO_INET,
            {{NFTA_CHAIN_TABLE, table}, {NFTA_CHAIN_NAME, chain}});
  message(NFNL_MSG_BATCH_END, 0, AF_UNSPEC, {});

  const int s = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_NETFILTER);
  if (s < 0) return false;
  timeval limit{5, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  bool ok = ::sendto(s, batch.data(), batch.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
            static_cast<ssize_t>(batch.size());
  // One acknowledgement per table and chain; any error ends it.
  for (std::size_t acks = 0; ok && acks < 1 + chains.size();) {
    char reply[8192];
    const ssize_t n = ::recv(s, reply, sizeof reply, 0);
    if (n <= 0) {
      ok = false;
      break;
    }
    int left = static_cast<int>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
      if (h->nlmsg_type != NLMSG_ERROR) continue;
      ok = ok && static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error == 0;
      ++acks;
    }
  }
  ::close(s);
  return ok;
}

// miniupnpd on `internal_if`, mapping to `external_if`, its HTTP side on
// `http_port`. Its log goes to `folder`/miniupnpd.log.
class Miniupnpd {
 public:
  Miniupnpd(const Namespace& ns, const std::filesystem::path& folder, const std::string& external_if,
            const std::string& internal_if, int http_port)
      : m_log(folder / "miniupnpd.log") {
    const auto conf = folder / "miniupnpd.conf";
    std::ofstream(conf) << "ext_ifname=" << external_if << "\nlistening_ip=" << internal_if
                        << "\nport=" << http_port
                        << "\nenable_natpmp=no\nenable_upnp=yes\nsecure_mode=no\nsystem_uptime=yes\n"
                           "uuid=3f1e8a52-7c41-4d0b-9a66-1b2c3d4e5f60\n"
                           "upnp_table_name=filter\nupnp_nat_table_name=filter\n"
                           "upnp_forward_chain=miniupnpd\nupnp_nat_chain=prerouting_miniupnpd\n"
                           "upnp_nat_postrouting_chain=postrouting_miniupnpd\n"
                           "allow 1024-65535 0.0.0.0/0 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n";
    m_pid = Spawn({kIp, "netns", "exec", ns.name(), kMiniupnpd, "-d", "-f", conf.string(), "-P",
                   (folder / "miniupnpd.pid").string()},
                  m_log.string());
  }
  ~Miniupnpd() { Stop(m_pid); }
  Miniupnpd(const Miniupnpd&) = delete;
  Miniupnpd& operator=(const Miniupnpd&) = delete;

  bool started() const { return m_pid > 0; }
  std::string Log() const {
    std::ifstream in(m_log);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The table names the configuration above gives it.
  static std::vector<std::string> Chains() { return {"miniupnpd", "prerouting_miniupnpd", "postrouting_miniupnpd"}; }

 private:
  std::filesystem::path m_log;
  pid_t m_pid = -1;
};

}  // namespace netns_lab
