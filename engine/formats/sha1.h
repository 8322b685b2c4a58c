#pragma once
// SHA-1 (FIPS 180-1): info-hashes, piece hashes and the check of metadata
// received from the swarm.
//
// The compression uses the CPU's SHA instructions where the processor has
// them (checked once at run time) and a portable unrolled version elsewhere.

#include <cstddef>
#include <cstdint>

#include "engine/formats/sha1_hash.h"

namespace engine {

struct sha1_context {
  std::uint32_t state[5];   // chaining words
  std::uint32_t count[2];   // message length in bits, low word first
  std::uint8_t buffer[64];  // bytes of an unfinished block
};

// Sets the initial chaining values and a bit count of zero.
void sha1_init(sha1_context& ctx);
// Adds `length` bytes; any length, including zero, may be fed at any time.
void sha1_update(sha1_context& ctx, const void* data, std::size_t length);
// Pads the message and writes the 20-byte digest to `digest`. The context
// must be initialised again before it is used for another message.
void sha1_final(sha1_context& ctx, std::uint8_t* digest);

class hasher {
 public:
  hasher() { sha1_init(m_context); }
  hasher(const char* data, int length) : hasher() { update(data, length); }

  // A negative length counts as zero.
  hasher& update(const char* data, int length) {
    if (length > 0) sha1_update(m_context, data, static_cast<std::size_t>(length));
    return *this;
  }
  // The digest of everything fed so far; the hasher then starts over.
  sha1_hash final() {
    sha1_hash digest;
    sha1_final(m_context, digest.data());
    sha1_init(m_context);
    return digest;
  }

 private:
  sha1_context m_context;
};

// Which compression routine sha1_update uses. The choice is made once from
// the CPU's features; tests and benchmarks may switch to compare them.
enum class sha1_backend { portable, sha_instructions };

bool sha1_backend_available(sha1_backend b);
sha1_backend sha1_active_backend();
// Selects `b` for every thread; returns false (and changes nothing) when
// the CPU lacks it.
bool sha1_use_backend(sha1_backend b);

}  // namespace engine
