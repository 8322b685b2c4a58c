// Decodes arbitrary bytes; whatever decodes must survive a canonical
// round trip unchanged.
#include "engine/formats/entry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* first = reinterpret_cast<const char*>(data);
  engine::entry e;
  std::size_t consumed = 0;
  try {
    e = engine::bdecode(first, first + size, consumed);
  } catch (const engine::invalid_encoding&) {
    return 0;
  }
  if (consumed == 0 || consumed > size) std::abort();

  std::string once;
  engine::bencode(std::back_inserter(once), e);
  engine::entry again = engine::bdecode(once);
  if (!(again == e)) std::abort();
  std::string twice;
  engine::bencode(std::back_inserter(twice), again);
  if (twice != once) std::abort();

  std::ostringstream sink;
  e.print(sink);
  return 0;
}
