#include "client/net/url_download_jobs.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace client {

const std::filesystem::path& UrlDownloadJobs::Folder() {
  if (m_folder.empty() && m_workers) {
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    std::string name = ((ec ? std::filesystem::path("/tmp") : temp) / "quillfern-XXXXXX").string();
    if (::mkdtemp(name.data())) m_folder = name;
  }
  return m_folder;
}

void UrlDownloadJobs::Close() {
  // Every job ends before the folder goes.
  m_workers.reset();
  if (!m_folder.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
    m_folder.clear();
  }
}

}  // namespace client
