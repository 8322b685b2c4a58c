#include "client/net/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace client {

std::optional<std::string> ResolveIpv4(const std::string& host) {
  if (host.empty()) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
  std::optional<std::string> address;
  for (const addrinfo* a = found; a && !address; a = a->ai_next) {
    if (a->ai_family != AF_INET || !a->ai_addr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) address = text;
  }
  freeaddrinfo(found);
  return address;
}

HostLookupWorker::HostLookupWorker(Sink sink, Resolver resolver) : m_state(std::make_shared<State>()) {
  m_state->sink = std::move(sink);
  m_state->resolver = std::move(resolver);
  m_thread = std::thread(&HostLookupWorker::Run, m_state);
}

HostLookupWorker::~HostLookupWorker() {
  bool busy;
  {
    std::lock_guard lock(m_state->mutex);
    m_state->stop = true;
    m_state->sink = nullptr;
    m_state->queue.clear();
    busy = m_state->busy;
  }
  m_state->wake.notify_all();
  // An idle thread ends at once; one inside the resolver may take as long
  // as the name service does, so it is left to end by itself. It holds the
  // state it uses.
  if (busy)
    m_thread.detach();
  else
    m_thread.join();
}

void HostLookupWorker::Lookup(std::uint64_t key, std::string host) {
  {
    std::lock_guard lock(m_state->mutex);
    m_state->queue.emplace_back(key, std::move(host));
  }
  m_state->wake.notify_one();
}

void HostLookupWorker::Run(std::shared_ptr<State> state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stop || !state->queue.empty(); });
    if (state->stop) return;
    auto [key, host] = std::move(state->queue.front());
    state->queue.pop_front();
    state->busy = true;
    lock.unlock();
    Answer answer{key, state->resolver(host)};
    lock.lock();
    state->busy = false;
    if (state->stop) return;
    // Under the lock: the owner clears the sink under it too.
    if (state->sink) state->sink(std::move(answer));
  }
}

}  // namespace client
