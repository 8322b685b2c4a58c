#include "client/torrents/save_folder.h"

#include "client/common/paths.h"
#include "client/base/wide_text.h"

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace client {
namespace {

constexpr std::uint64_t kMiB = 1048576;

std::wstring Lower(std::wstring_view text) {
  std::wstring out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return out;
}

// The folder as the dialog shows it: no trailing separator but for the root.
std::string Shown(std::string folder) {
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
  return folder;
}

}  // namespace

std::string DriveRootToHome(std::string folder) {
  const bool drive = folder.size() >= 2 && folder.size() <= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
                     folder[1] == ':' && (folder.size() == 2 || IsSeparator(folder[2]));
  return drive ? HomeFolder() : folder;
}

std::optional<FolderSpace> QueryFolderSpace(const std::string& folder) {
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return std::nullopt;
  const std::filesystem::space_info info = std::filesystem::space(folder, ec);
  if (ec) return std::nullopt;
  FolderSpace space;
  space.available = info.available;
  // Free space says nothing about permission (or a read-only mount).
  space.writable = ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  return space;
}

std::optional<std::string> MatchDestination(std::wstring_view name, const std::vector<DestinationEntry>& entries) {
  const std::wstring key = Lower(name.substr(std::min(name.size(), name.find_last_of(L"\\/") + 1)));
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const std::wstring keywords = Lower(entry->keywords);
    for (std::size_t start = 0; start <= keywords.size();) {
      const std::size_t comma = std::min(keywords.find(L',', start), keywords.size());
      const std::wstring_view keyword = std::wstring_view(keywords).substr(start, comma - start);
      if (!keyword.empty() && key.find(keyword) != std::wstring::npos) return entry->folder;
      start = comma + 1;
    }
  }
  return std::nullopt;
}

AutoSaveChoice ChooseAutoSaveFolder(const AutoSaveSettings& settings, std::wstring_view name, std::uint64_t required,
                                    const FolderSpaceQuery& query) {
  AutoSaveChoice choice;
  if (settings.mode == kAsdSingle) choice.folder = settings.single;
  else if (settings.mode == kAsdMatch) choice.folder = MatchDestination(name, settings.destinations);
  if (!choice.folder) return choice;
  *choice.folder = WithTrailingSeparator(DriveRootToHome(*choice.folder));
  const std::optional<FolderSpace> space = query(*choice.folder);
  if (!space || !space->writable) return choice;
  if (required < space->available) choice.accepted = true;
  else choice.log_line = L"ASP: not enough free space on '" + Utf8ToWide(*choice.folder) + L"'";
  return choice;
}

SpaceStatus FolderSpaceStatus(const std::optional<FolderSpace>& space, std::uint64_t required) {
  if (!space || !space->writable) return {L"Destination is not writeable", false};
  const auto need = static_cast<unsigned long long>(required / kMiB);
  const auto have = static_cast<unsigned long long>(space->available / kMiB);
  if (required <= space->available)
    return {FormatWide("Space required : %10llu MByte\nSpace available: %10llu MByte", need, have), true};
  return {FormatWide("Space required: %10llu MByte\nSpace available: %10llu MByte  missing: %llu MBbyte", need, have,
                 static_cast<unsigned long long>((required - space->available) / kMiB)),
          false};
}

SaveFolderModel::SaveFolderModel(SaveFolderRequest request, FolderSpaceQuery query)
    : priority(std::clamp(request.priority, 0, 2)), m_request(std::move(request)), m_query(std::move(query)) {
  SetFolder(m_request.start_folder);
}

void SaveFolderModel::SetFolder(std::string folder) {
  m_folder = Shown(std::move(folder));
  m_status = FolderSpaceStatus(m_folder.empty() ? std::nullopt : m_query(m_folder), m_request.required);
}

bool SaveFolderModel::ChooseFolder(UiServices& ui) {
  const std::optional<std::string> chosen = ui.ChooseFolder(WideToUtf8(kSaveFolderCaption), m_folder);
  if (!chosen) return false;
  SetFolder(*chosen);
  return true;
}

int SaveFolderModel::PriorityButtonId() const {
  return priority == 2 ? kIdHighPriority : priority == 0 ? kIdLowPriority : kIdNormalPriority;
}

void SaveFolderModel::SetPriorityByButton(int id) {
  priority = id == kIdHighPriority ? 2 : id == kIdLowPriority ? 0 : 1;
}

SaveFolderChoice SaveFolderModel::Choice() const { return {WithTrailingSeparator(m_folder), priority}; }

}  // namespace client
