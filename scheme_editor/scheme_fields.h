#pragma once
// The editor's 75 byte edits: each edits one channel (red, green or blue)
// of one member of the chart entry being edited or of the main colour
// block. Colours are edited as their channel bytes, offsets and factors
// (doubles in the records) as whole numbers 0..255.

#include "client/common/color_scheme.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tintwright {

enum class Member {
  // Members of a DiagramColorEntry.
  UploadBackground, UploadForeground, UploadText,
  DownloadBackground, DownloadForeground, DownloadText,
  ProgressBackground, ProgressForeground, ProgressText,
  TimeBackground, TimeForeground, TimeText,
  TitleBackground, TitleText,
  FrameOffset, FrameFactor,
  // Members of the MainColorBlock.
  MainFrameOffset, MainFrameFactor,
  ActiveTitle, InactiveTitle, TitleShadow, ErrorText,
  ErrorButton, ActiveButton, InactiveButton,
};

enum class Channel { Red, Green, Blue };

// True for the members of the main block (the frame preview's colours).
constexpr bool IsMainMember(Member m) { return m >= Member::MainFrameOffset; }

struct SchemeField {
  int id;  // control id of the edit
  Member member;
  Channel channel;
};

// One row of the dialog: a member's three edits, with the group and row
// texts the dialog shows.
struct SchemeRow {
  std::wstring_view group;
  std::wstring_view label;
  Member member;
  int red_id, green_id, blue_id;
};

inline constexpr std::size_t kRowCount = 25;
inline constexpr std::size_t kFieldCount = kRowCount * 3;

// The rows in the dialog's group order.
inline constexpr std::array<SchemeRow, kRowCount> kSchemeRows = {{
    {L"Upload", L"Background", Member::UploadBackground, 1002, 1004, 1005},
    {L"Upload", L"Foreground", Member::UploadForeground, 1008, 1010, 1011},
    {L"Upload", L"Text", Member::UploadText, 1021, 1022, 1023},
    {L"Download", L"Background", Member::DownloadBackground, 1012, 1013, 1014},
    {L"Download", L"Foreground", Member::DownloadForeground, 1015, 1016, 1017},
    {L"Download", L"Text", Member::DownloadText, 1018, 1019, 1020},
    {L"Progress", L"Background", Member::ProgressBackground, 1024, 1025, 1026},
    {L"Progress", L"Foreground", Member::ProgressForeground, 1027, 1028, 1029},
    {L"Progress", L"Text", Member::ProgressText, 1030, 1031, 1032},
    {L"Time", L"Background", Member::TimeBackground, 1033, 1034, 1035},
    {L"Time", L"Foreground", Member::TimeForeground, 1036, 1037, 1038},
    {L"Time", L"Text", Member::TimeText, 1039, 1040, 1041},
    {L"Titel", L"Background", Member::TitleBackground, 1042, 1043, 1044},
    {L"Titel", L"Text", Member::TitleText, 1048, 1049, 1050},
    {L"Frame", L"Offset", Member::FrameOffset, 1059, 1060, 1061},
    {L"Frame", L"Factor", Member::FrameFactor, 1062, 1063, 1064},
    {L"Main Frame", L"Offset", Member::MainFrameOffset, 1051, 1052, 1053},
    {L"Main Frame", L"Factor", Member::MainFrameFactor, 1054, 1055, 1056},
    {L"Main Texts", L"Active titel", Member::ActiveTitle, 1065, 1066, 1067},
    {L"Main Texts", L"Inactive titel", Member::InactiveTitle, 1068, 1069, 1070},
    {L"Main Texts", L"Titel schadow", Member::TitleShadow, 1071, 1072, 1073},
    {L"Main Texts", L"Error text", Member::ErrorText, 1077, 1078, 1079},
    {L"Main buttons", L"Error", Member::ErrorButton, 1074, 1075, 1076},
    {L"Main buttons", L"Active", Member::ActiveButton, 1080, 1081, 1082},
    {L"Main buttons", L"Inactive", Member::InactiveButton, 1083, 1084, 1085},
}};

// The 75 edits, row by row (red, green, blue of each row).
inline constexpr std::array<SchemeField, kFieldCount> kSchemeFields = [] {
  std::array<SchemeField, kFieldCount> fields{};
  for (std::size_t r = 0; r < kRowCount; ++r) {
    const SchemeRow& row = kSchemeRows[r];
    fields[3 * r + 0] = {row.red_id, row.member, Channel::Red};
    fields[3 * r + 1] = {row.green_id, row.member, Channel::Green};
    fields[3 * r + 2] = {row.blue_id, row.member, Channel::Blue};
  }
  return fields;
}();

// The index into kSchemeFields of the edit with this control id.
std::optional<std::size_t> FieldIndexOfId(int id);

// The byte an edit shows: a colour's channel, or an offset or factor
// truncated toward zero and clamped to 0..255.
std::uint8_t ReadField(const SchemeField& field, const client::DiagramColorEntry& entry,
                       const client::MainColorBlock& main);
// Writes an edit's byte back: into the colour's channel, or as a
// whole-number offset or factor.
void WriteField(const SchemeField& field, client::DiagramColorEntry& entry, client::MainColorBlock& main,
                std::uint8_t value);

}  // namespace tintwright
