#include "client/net/net_workers.h"

namespace client {

NetWorker::NetWorker(std::function<void(HttpCancel&)> job)
    : m_thread([this, job = std::move(job)] {
        job(m_cancel);
        m_finished = true;
      }) {}

NetWorker::~NetWorker() {
  m_cancel.Abort();
  m_thread.join();
}

NetWorkers::~NetWorkers() {
  for (auto& worker : m_workers) worker->Abort();
  m_workers.clear();
}

void NetWorkers::Start(std::function<void(HttpCancel&)> job) {
  Reap();
  m_workers.push_back(std::make_unique<NetWorker>(std::move(job)));
}

void NetWorkers::Reap() {
  m_workers.remove_if([](const std::unique_ptr<NetWorker>& worker) { return worker->Finished(); });
}

}  // namespace client
