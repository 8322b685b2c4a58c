#include "scheme_editor/scheme_fields.h"

#include <type_traits>

namespace tintwright {
namespace {

using client::ChannelRamp;
using client::ColorRef;
using client::RampRgb;

// Where a member lives: a colour, or a ramp whose offsets or factors it is.
template <class Entry>
struct Location {
  std::conditional_t<std::is_const_v<Entry>, const ColorRef*, ColorRef*> color = nullptr;
  std::conditional_t<std::is_const_v<Entry>, const RampRgb*, RampRgb*> ramp = nullptr;
  bool factor = false;
};

template <class Entry, class Main>
Location<Entry> Locate(Member m, Entry& e, Main& b) {
  Location<Entry> at;
  switch (m) {
    case Member::UploadBackground: at.color = &e.upload.background; break;
    case Member::UploadForeground: at.color = &e.upload.foreground; break;
    case Member::UploadText: at.color = &e.upload.text; break;
    case Member::DownloadBackground: at.color = &e.download.background; break;
    case Member::DownloadForeground: at.color = &e.download.foreground; break;
    case Member::DownloadText: at.color = &e.download.text; break;
    case Member::ProgressBackground: at.color = &e.progress.background; break;
    case Member::ProgressForeground: at.color = &e.progress.foreground; break;
    case Member::ProgressText: at.color = &e.progress.text; break;
    case Member::TimeBackground: at.color = &e.time.background; break;
    case Member::TimeForeground: at.color = &e.time.foreground; break;
    case Member::TimeText: at.color = &e.time.text; break;
    case Member::TitleBackground: at.color = &e.title_background; break;
    case Member::TitleText: at.color = &e.title_text; break;
    case Member::FrameOffset: at.ramp = &e.frame; break;
    case Member::FrameFactor: at.ramp = &e.frame; at.factor = true; break;
    case Member::MainFrameOffset: at.ramp = &b.frame; break;
    case Member::MainFrameFactor: at.ramp = &b.frame; at.factor = true; break;
    case Member::ActiveTitle: at.color = &b.active_title; break;
    case Member::InactiveTitle: at.color = &b.inactive_title; break;
    case Member::TitleShadow: at.color = &b.title_shadow; break;
    case Member::ErrorText: at.color = &b.error_text; break;
    case Member::ErrorButton: at.color = &b.error_button; break;
    case Member::ActiveButton: at.color = &b.active_button; break;
    case Member::InactiveButton: at.color = &b.inactive_button; break;
  }
  return at;
}

template <class Ramp>
auto& RampChannel(Ramp& ramp, Channel c) {
  return c == Channel::Red ? ramp.red : c == Channel::Green ? ramp.green : ramp.blue;
}

std::uint8_t Byte(client::Rgb rgb, Channel c) {
  return c == Channel::Red ? rgb.r : c == Channel::Green ? rgb.g : rgb.b;
}

}  // namespace

std::optional<std::size_t> FieldIndexOfId(int id) {
  for (std::size_t i = 0; i < kSchemeFields.size(); ++i)
    if (kSchemeFields[i].id == id) return i;
  return std::nullopt;
}

std::uint8_t ReadField(const SchemeField& field, const client::DiagramColorEntry& entry,
                       const client::MainColorBlock& main) {
  const auto at = Locate(field.member, entry, main);
  if (at.color) return Byte(client::FromColorRef(*at.color), field.channel);
  const ChannelRamp& ramp = RampChannel(*at.ramp, field.channel);
  return client::ClampChannel(at.factor ? ramp.factor : ramp.offset);
}

void WriteField(const SchemeField& field, client::DiagramColorEntry& entry, client::MainColorBlock& main,
                std::uint8_t value) {
  const auto at = Locate(field.member, entry, main);
  if (at.color) {
    client::Rgb rgb = client::FromColorRef(*at.color);
    (field.channel == Channel::Red ? rgb.r : field.channel == Channel::Green ? rgb.g : rgb.b) = value;
    *at.color = client::ToColorRef(rgb.r, rgb.g, rgb.b);
    return;
  }
  ChannelRamp& ramp = RampChannel(*at.ramp, field.channel);
  (at.factor ? ramp.factor : ramp.offset) = value;
}

}  // namespace tintwright
