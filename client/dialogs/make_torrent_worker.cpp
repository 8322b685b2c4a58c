#include "client/dialogs/make_torrent_worker.h"

namespace client {

MakeTorrentWorker::~MakeTorrentWorker() {
  RequestCancel();
  Join();
}

bool MakeTorrentWorker::Start(MakeTorrentJob job, MakeTorrentProgress progress, Done done) {
  if (Running()) return false;
  Join();
  m_cancel = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = true;
  }
  m_thread = std::thread([this, job = std::move(job), progress = std::move(progress), done = std::move(done)] {
    MakeTorrentResult result = MakeTorrent(job, m_cancel, progress);
    // Not running from here on, so that whoever hears of the end can start
    // the next job at once (Start joins this thread first).
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_running = false;
    }
    m_ended.notify_all();
    if (done) done(std::move(result));
  });
  return true;
}

bool MakeTorrentWorker::Running() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_running;
}

bool MakeTorrentWorker::StopWithin(std::chrono::milliseconds wait) {
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ended.wait_for(lock, wait, [this] { return !m_running; })) {
      m_cancel = true;
      return false;
    }
  }
  Join();
  return true;
}

void MakeTorrentWorker::Join() {
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace client
