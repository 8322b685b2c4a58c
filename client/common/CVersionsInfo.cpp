#include "client/common/CVersionsInfo.h"

#include "platform/unexpected_error.h"
#include "version_text.h"

#include <cwchar>

namespace client {

std::optional<std::wstring> VersionTables::FileVersion(std::wstring_view table) const {
  const auto it = m_tables.find(table);
  if (it == m_tables.end()) return std::nullopt;
  return it->second;
}

const VersionResource& BuiltVersion() {
  static const VersionTables built = [] {
    const std::string_view text = QF_FILE_VERSION_TEXT;
    return VersionTables({{L"040904b0", std::wstring(text.begin(), text.end())}});
  }();
  return built;
}

CVersionsInfo::CVersionsInfo() : CVersionsInfo(BuiltVersion()) {}

CVersionsInfo::CVersionsInfo(const VersionResource& source) {
  try {
    Read(source);
  } catch (...) {
    // Shared by both programs, which log differently: the error stream.
    platform::report_unexpected_error("the version information");
    m_text.reset();
  }
  if (!m_text) m_text = L"0.0.0.0";
}

void CVersionsInfo::Read(const VersionResource& source) {
  // Numbers the text does not hold stay 0.
  if (auto text = source.FileVersion(L"040904b0")) {
    m_text = std::move(text);
    std::swscanf(m_text->c_str(), L"%d,%d,%d,%d", &m_numbers[0], &m_numbers[1], &m_numbers[2], &m_numbers[3]);
  } else if (auto german = source.FileVersion(L"040704b0")) {
    m_text = std::move(german);
    unsigned u[3] = {0, 0, 0};
    std::swscanf(m_text->c_str(), L"%d.%u.%u.%u", &m_numbers[0], &u[0], &u[1], &u[2]);
    for (int i = 0; i < 3; ++i) m_numbers[i + 1] = int(u[i]);
  }
}

int CVersionsInfo::GetMajor() const {
  if (!m_text) return -1;
  return int(std::wcstol(m_text->c_str(), nullptr, 10));
}

std::wstring CVersionsInfo::GetVersionText() const { return m_text ? *m_text : L"Version -1.0"; }

}  // namespace client
