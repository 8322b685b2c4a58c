#include "engine/formats/sha1.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#define QF_SHA1_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace engine {

namespace {

// Runs the 80-round compression over `blocks` consecutive 64-byte blocks.
using transform_fn = void (*)(std::uint32_t* state, const std::uint8_t* data, std::size_t blocks);

inline std::uint32_t rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t load_be32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

// ---- portable compression, all 80 rounds unrolled --------------------------
//
// The message schedule lives in a ring of 16 words; round i (i >= 16)
// replaces w[i % 16] by its next value.

#define QF_W(i) (w[(i) & 15] = rol(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))
#define QF_R0(v, x, y, z, u, i) u += ((x & (y ^ z)) ^ z) + w[i] + 0x5A827999u + rol(v, 5); x = rol(x, 30);
#define QF_R1(v, x, y, z, u, i) u += ((x & (y ^ z)) ^ z) + QF_W(i) + 0x5A827999u + rol(v, 5); x = rol(x, 30);
#define QF_R2(v, x, y, z, u, i) u += (x ^ y ^ z) + QF_W(i) + 0x6ED9EBA1u + rol(v, 5); x = rol(x, 30);
#define QF_R3(v, x, y, z, u, i) u += (((x | y) & z) | (x & y)) + QF_W(i) + 0x8F1BBCDCu + rol(v, 5); x = rol(x, 30);
#define QF_R4(v, x, y, z, u, i) u += (x ^ y ^ z) + QF_W(i) + 0xCA62C1D6u + rol(v, 5); x = rol(x, 30);
#define QF_FIVE(R, i)        \
  R(a, b, c, d, e, (i))      \
  R(e, a, b, c, d, (i) + 1)  \
  R(d, e, a, b, c, (i) + 2)  \
  R(c, d, e, a, b, (i) + 3)  \
  R(b, c, d, e, a, (i) + 4)

void transform_portable(std::uint32_t* state, const std::uint8_t* data, std::size_t blocks) {
  std::uint32_t w[16];
  for (; blocks > 0; --blocks, data += 64) {
    for (int i = 0; i < 16; ++i) w[i] = load_be32(data + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

    QF_FIVE(QF_R0, 0)
    QF_FIVE(QF_R0, 5)
    QF_FIVE(QF_R0, 10)
    QF_R0(a, b, c, d, e, 15)
    QF_R1(e, a, b, c, d, 16)
    QF_R1(d, e, a, b, c, 17)
    QF_R1(c, d, e, a, b, 18)
    QF_R1(b, c, d, e, a, 19)
    QF_FIVE(QF_R2, 20)
    QF_FIVE(QF_R2, 25)
    QF_FIVE(QF_R2, 30)
    QF_FIVE(QF_R2, 35)
    QF_FIVE(QF_R3, 40)
    QF_FIVE(QF_R3, 45)
    QF_FIVE(QF_R3, 50)
    QF_FIVE(QF_R3, 55)
    QF_FIVE(QF_R4, 60)
    QF_FIVE(QF_R4, 65)
    QF_FIVE(QF_R4, 70)
    QF_FIVE(QF_R4, 75)

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

#undef QF_W
#undef QF_R0
#undef QF_R1
#undef QF_R2
#undef QF_R3
#undef QF_R4
#undef QF_FIVE

// ---- x86 SHA extensions ----------------------------------------------------
//
// Each sha1rnds4 runs four rounds. The schedule is kept as four vectors of
// four words; group g (rounds 4g..4g+3) needs
//   W[g] = msg2(msg1(W[g-4], W[g-3]) ^ W[g-2], W[g-1]).
// E for group g is derived by sha1nexte from the A word before group g-1.

#if QF_SHA1_X86

#define QF_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

template <int G>
QF_SHA_TARGET __attribute__((always_inline)) inline void shani_group(__m128i& abcd, __m128i& prev_abcd, __m128i (&w)[4],
                                                                       const std::uint8_t* data, __m128i byte_swap) {
  __m128i& wg = w[G & 3];
  if constexpr (G < 4) {
    wg = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * G)), byte_swap);
  } else {
    wg = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(wg, w[(G + 1) & 3]), w[(G + 2) & 3]), w[(G + 3) & 3]);
  }
  __m128i e;
  if constexpr (G == 0) {
    e = _mm_add_epi32(prev_abcd, wg);  // prev_abcd holds E in its top word here
  } else {
    e = _mm_sha1nexte_epu32(prev_abcd, wg);
  }
  prev_abcd = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
}

template <int... G>
QF_SHA_TARGET __attribute__((always_inline)) inline void shani_rounds(__m128i& abcd, __m128i& prev_abcd, __m128i (&w)[4],
                                                                        const std::uint8_t* data, __m128i byte_swap,
                                                                        std::integer_sequence<int, G...>) {
  (shani_group<G>(abcd, prev_abcd, w, data, byte_swap), ...);
}

QF_SHA_TARGET void transform_shani(std::uint32_t* state, const std::uint8_t* data, std::size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  // A in the top word, D in the bottom one.
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcd_saved = abcd;
    const __m128i e_saved = e0;
    __m128i w[4];
    __m128i prev = e0;
    shani_rounds(abcd, prev, w, data, byte_swap, std::make_integer_sequence<int, 20>{});
    // `prev` is the A word before the last group; E after round 80 is its
    // rotation, which sha1nexte adds to the saved E.
    e0 = _mm_sha1nexte_epu32(prev, e_saved);
    abcd = _mm_add_epi32(abcd, abcd_saved);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

bool cpu_has_sha_instructions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = c & (1u << 9);
  const bool sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = b & (1u << 29);
  return ssse3 && sse41 && sha;
}

#else

bool cpu_has_sha_instructions() { return false; }

#endif

// ---- dispatch ----------------------------------------------------------------

transform_fn transform_for(sha1_backend b) {
#if QF_SHA1_X86
  if (b == sha1_backend::sha_instructions) return &transform_shani;
#endif
  (void)b;
  return &transform_portable;
}

void transform_first_call(std::uint32_t* state, const std::uint8_t* data, std::size_t blocks);

// Constant-initialised, so hashing works even from other static initialisers;
// the first call picks the routine.
std::atomic<transform_fn> g_transform{&transform_first_call};

sha1_backend best_backend() {
  static const bool has_sha = cpu_has_sha_instructions();
  return has_sha ? sha1_backend::sha_instructions : sha1_backend::portable;
}

void transform_first_call(std::uint32_t* state, const std::uint8_t* data, std::size_t blocks) {
  transform_fn f = transform_for(best_backend());
  transform_fn expected = &transform_first_call;
  // A backend chosen explicitly in the meantime wins.
  if (!g_transform.compare_exchange_strong(expected, f, std::memory_order_relaxed)) f = expected;
  f(state, data, blocks);
}

inline void transform(std::uint32_t* state, const std::uint8_t* data, std::size_t blocks) {
  g_transform.load(std::memory_order_relaxed)(state, data, blocks);
}

}  // namespace

bool sha1_backend_available(sha1_backend b) {
  return b == sha1_backend::portable || best_backend() == sha1_backend::sha_instructions;
}

sha1_backend sha1_active_backend() {
  transform_fn f = g_transform.load(std::memory_order_relaxed);
  if (f == &transform_first_call) return best_backend();
  return f == &transform_portable ? sha1_backend::portable : sha1_backend::sha_instructions;
}

bool sha1_use_backend(sha1_backend b) {
  if (!sha1_backend_available(b)) return false;
  g_transform.store(transform_for(b), std::memory_order_relaxed);
  return true;
}

// ---- the context functions ---------------------------------------------------

void sha1_init(sha1_context& ctx) {
  ctx.state[0] = 0x67452301u;
  ctx.state[1] = 0xEFCDAB89u;
  ctx.state[2] = 0x98BADCFEu;
  ctx.state[3] = 0x10325476u;
  ctx.state[4] = 0xC3D2E1F0u;
  ctx.count[0] = 0;
  ctx.count[1] = 0;
}

void sha1_update(sha1_context& ctx, const void* data, std::size_t length) {
  if (length == 0) return;
  auto p = static_cast<const std::uint8_t*>(data);

  const std::size_t used = (ctx.count[0] >> 3) & 63;
  const std::uint64_t bits =
      ((std::uint64_t(ctx.count[1]) << 32) | ctx.count[0]) + (std::uint64_t(length) << 3);
  ctx.count[0] = static_cast<std::uint32_t>(bits);
  ctx.count[1] = static_cast<std::uint32_t>(bits >> 32);

  if (used != 0) {
    const std::size_t take = std::min(length, 64 - used);
    std::memcpy(ctx.buffer + used, p, take);
    if (used + take < 64) return;
    transform(ctx.state, ctx.buffer, 1);
    p += take;
    length -= take;
  }
  if (const std::size_t blocks = length / 64; blocks != 0) {
    transform(ctx.state, p, blocks);
    p += blocks * 64;
    length -= blocks * 64;
  }
  if (length != 0) std::memcpy(ctx.buffer, p, length);
}

void sha1_final(sha1_context& ctx, std::uint8_t* digest) {
  const std::size_t used = (ctx.count[0] >> 3) & 63;
  ctx.buffer[used] = 0x80;
  if (used >= 56) {
    // No room for the length: it goes into a block of its own.
    std::memset(ctx.buffer + used + 1, 0, 63 - used);
    transform(ctx.state, ctx.buffer, 1);
    std::memset(ctx.buffer, 0, 56);
  } else {
    std::memset(ctx.buffer + used + 1, 0, 55 - used);
  }
  store_be32(ctx.buffer + 56, ctx.count[1]);
  store_be32(ctx.buffer + 60, ctx.count[0]);
  transform(ctx.state, ctx.buffer, 1);

  for (int i = 0; i < 5; ++i) store_be32(digest + 4 * i, ctx.state[i]);
}

}  // namespace engine
