#include "platform/random.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/random.h>

namespace platform {

void random_bytes(void* out, std::size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = getrandom(p, size, 0);
    if (n > 0) {
      p += n;
      size -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      std::FILE* f = std::fopen("/dev/urandom", "rb");
      if (!f || std::fread(p, 1, size, f) != size) std::abort();
      std::fclose(f);
      return;
    }
  }
}

}  // namespace platform
