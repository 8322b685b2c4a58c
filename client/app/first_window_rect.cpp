#include "client/app/first_window_rect.h"

#include "platform/profile.h"

namespace client {

WindowRect FirstWindowRect(const platform::profile& profile) {
  auto at_least_40 = [](int edge) { return static_cast<unsigned>(edge) < 40u ? 40 : edge; };
  WindowRect r;
  r.left = profile.GetProfileInt("Configuration", "Pos Left", 20);
  r.top = profile.GetProfileInt("Configuration", "Pos Top", 20);
  r.right = at_least_40(profile.GetProfileInt("Configuration", "Pos Right", 420));
  r.bottom = at_least_40(profile.GetProfileInt("Configuration", "Pos Bottom", 220));
  return r;
}

}  // namespace client
