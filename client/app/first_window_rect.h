#pragma once
// Where the main window first appears: the edges the frame wrote into the
// profile section "Configuration" when it last closed.

namespace platform {
class profile;
}

namespace client {

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom are edges, not sizes
};

// "Pos Left", "Pos Top", "Pos Right", "Pos Bottom" (defaults 20, 20, 420,
// 220); a right or bottom edge below 40 (compared as unsigned) becomes 40.
WindowRect FirstWindowRect(const platform::profile& profile);

}  // namespace client
