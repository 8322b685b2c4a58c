#pragma once
// A wall-clock date and time as the database keeps it: second precision,
// no time zone. Invalid when unset or parsed from a text that is no date.

#include <string>
#include <string_view>

namespace store {

class date_time {
 public:
  date_time() = default;  // invalid
  // Invalid when any field is out of range (including a day the month lacks).
  date_time(int year, int month, int day, int hour, int minute, int second);

  // The local wall-clock time now.
  static date_time now();
  // "YYYY-MM-DD HH:MM:SS" exactly; anything else gives an invalid value
  // (so does the server's zero date "0000-00-00 00:00:00").
  static date_time parse(std::string_view text);

  bool valid() const { return m_valid; }
  // "%Y-%m-%d %H:%M:%S"; empty when invalid.
  std::string format() const;

  int year() const { return m_year; }
  int month() const { return m_month; }
  int day() const { return m_day; }
  int hour() const { return m_hour; }
  int minute() const { return m_minute; }
  int second() const { return m_second; }

  bool operator==(const date_time&) const = default;

 private:
  int m_year = 0, m_month = 0, m_day = 0, m_hour = 0, m_minute = 0, m_second = 0;
  bool m_valid = false;
};

}  // namespace store
