#pragma once
// The update check: asks the maker's web server for "currentversion.txt"
// and compares the build number in it with the program's own. Runs as a
// job on a worker (client/net/net_workers.h) with a time-out, and reports one
// log line, or nothing at all when anything went wrong.
//
// The reply's first line is the version "a.b.c.build", the second a short
// note shown with it.

#include "client/net/http_get.h"
#include "client/net/net_workers.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class profile;
}

namespace client {

// The profile value (section "Configuration") that holds the URL, and the
// URL used without it.
inline constexpr std::string_view kUpdateUrlValue = "Update URL";
inline constexpr std::string_view kDefaultUpdateUrl = "http://quillfern.example.org/currentversion.txt";
// Only the start of the reply is read.
inline constexpr std::size_t kUpdateReplyLimit = 512;

// The log line for a reply (at most its first 512 bytes count): none when
// its first line is no "%u.%u.%u.%u"; "Quillfern Version a.b.c Build d is
// available. (" + second line + ")" when d is above `own_build`; else
// "Quillfern is up to date!".
std::optional<std::wstring> UpdateCheckLine(std::string_view reply, int own_build);

struct UpdateCheckRequest {
  std::string url;
  int own_build = 0;  // CVersionsInfo().GetRevision()
  HttpSettings http{20000, 30000, {}};
};

// The program's check: the URL from `profile`, the build from CVersionsInfo.
UpdateCheckRequest UpdateCheckRequestFor(const platform::profile& profile);

// The job: reports the line (on the worker thread) when there is one.
void CheckForUpdate(const UpdateCheckRequest& request, const std::function<void(const std::wstring&)>& log_line,
                    HttpCancel& cancel);

// Starts the job on a worker of `workers` with copies of its arguments.
void StartUpdateCheck(NetWorkers& workers, UpdateCheckRequest request,
                      std::function<void(const std::wstring&)> log_line);

}  // namespace client
