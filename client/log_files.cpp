#include "client/log_files.h"

#include "client/CUTF16File.h"
#include "client/wide_text.h"

#include <string>

namespace client {

bool AppendLogLine(const std::filesystem::path& file, std::wstring_view line) {
  CUTF16File out;
  if (!out.Open(file, CUTF16File::modeCreate | CUTF16File::modeNoTruncate | CUTF16File::modeWrite |
                          CUTF16File::typeBinary))
    return false;
  out.Seek(0, CUTF16File::end);
  out.WriteString(WideToUtf16(line) + u"\r\n");
  return out.Close();
}

}  // namespace client
