#pragma once
// The main window's network jobs: the URL downloads of dropped links and
// the update checks, each on a worker of its own. Downloads are saved into
// a folder private to this run (made by mkdtemp, mode 0700, in the system's
// temporary folder), so no other user can plant a file or a link there.
//
// Close (at the latest the destructor) aborts every running job, joins its
// thread and removes the folder with what is left in it: nothing is
// reported afterwards, so a job never reports to a window that is gone.

#include "client/net/net_workers.h"

#include <filesystem>
#include <memory>

namespace client {

class UrlDownloadJobs {
 public:
  UrlDownloadJobs() = default;
  ~UrlDownloadJobs() { Close(); }
  UrlDownloadJobs(const UrlDownloadJobs&) = delete;
  UrlDownloadJobs& operator=(const UrlDownloadJobs&) = delete;

  // The workers; null once closed.
  NetWorkers* Workers() { return m_workers.get(); }
  // The private folder, made on the first call; empty when it cannot be
  // made or the jobs are closed.
  const std::filesystem::path& Folder();

  void Close();
  bool Closed() const { return !m_workers; }

 private:
  std::unique_ptr<NetWorkers> m_workers = std::make_unique<NetWorkers>();
  std::filesystem::path m_folder;
};

}  // namespace client
