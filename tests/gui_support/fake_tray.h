#pragma once
// A notification area as far as programs can tell: while it lives, a
// window of this test owns the X selection "_NET_SYSTEM_TRAY_S<screen>",
// which is how a tray announces itself. Nothing is docked into it.
// (Kept apart from wx and gtest: Xlib's macros clash with both.)

namespace gui_test {

class FakeTrayOwner {
 public:
  FakeTrayOwner();
  ~FakeTrayOwner();
  FakeTrayOwner(const FakeTrayOwner&) = delete;
  FakeTrayOwner& operator=(const FakeTrayOwner&) = delete;
  // The selection is ours.
  bool Owned() const { return m_owned; }

 private:
  void* m_display = nullptr;
  bool m_owned = false;
};

}  // namespace gui_test
