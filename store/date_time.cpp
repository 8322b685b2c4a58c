#include "store/date_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace store {

date_time::date_time(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const year_month_day ymd{std::chrono::year(year), std::chrono::month(unsigned(month)),
                           std::chrono::day(unsigned(day))};
  if (year < 1 || year > 9999 || month < 1 || day < 1 || !ymd.ok()) return;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return;
  m_year = year;
  m_month = month;
  m_day = day;
  m_hour = hour;
  m_minute = minute;
  m_second = second;
  m_valid = true;
}

date_time date_time::now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return date_time(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                   local.tm_sec);
}

date_time date_time::parse(std::string_view text) {
  // Fixed positions: YYYY-MM-DD HH:MM:SS
  if (text.size() != 19) return {};
  static constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return {};
  }
  auto field = [&](std::size_t at, std::size_t len) {
    int v = 0;
    for (std::size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  return date_time(field(0, 4), field(5, 2), field(8, 2), field(11, 2), field(14, 2), field(17, 2));
}

std::string date_time::format() const {
  if (!m_valid) return {};
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", m_year, m_month, m_day, m_hour,
                m_minute, m_second);
  return buffer;
}

}  // namespace store
