#include "client/common/tick.h"

#include "platform/clock.h"

#include <utility>

namespace client {
namespace {
std::function<std::uint32_t()>& Source() {
  static std::function<std::uint32_t()> source;
  return source;
}
}  // namespace

std::uint32_t TickMs() {
  auto& source = Source();
  return source ? source() : platform::timeGetTime();
}

void SetTickSource(std::function<std::uint32_t()> source) { Source() = std::move(source); }

FakeTick::FakeTick(std::uint32_t start) : m_now(start) {
  SetTickSource([this] { return m_now; });
}

FakeTick::~FakeTick() { SetTickSource({}); }

}  // namespace client
