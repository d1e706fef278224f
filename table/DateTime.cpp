#include "table/MemTable.h"

#include "platform/CivilDate.h"

#include <clocale>
#include <cmath>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <mutex>
#include <optional>

namespace {

bool IsLeap(int Y) {
  return (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0;
}

const int64_t Epoch = DaysFromCivil(1899, 12, 30); // day 0 of TDateTime
constexpr int64_t MsPerDay = 86400000;

TFormatSettings EnvironmentFormats() {
  TFormatSettings Result{"%m/%d/%y", "%H:%M:%S"};
  locale_t Loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (Loc == static_cast<locale_t>(0)) return Result;
  const char* DateFormat = nl_langinfo_l(D_FMT, Loc);
  const char* TimeFormat = nl_langinfo_l(T_FMT, Loc);
  if (DateFormat && *DateFormat) Result.ShortDateFormat = DateFormat;
  if (TimeFormat && *TimeFormat) Result.LongTimeFormat = TimeFormat;
  freelocale(Loc);
  return Result;
}

// The LC_TIME locale of the environment (month and day names, AM/PM), made once.
locale_t TimeLocale() {
  static const locale_t Loc = [] {
    locale_t L = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (L == static_cast<locale_t>(0)) L = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    return L;
  }();
  return Loc;
}

std::mutex SettingsLock;
std::optional<TFormatSettings> Settings;

} // namespace

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second,
                         int MilliSecond) {
  static const int DaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
      Day > DaysIn[Month - 1] + (Month == 2 && IsLeap(Year) ? 1 : 0) || Hour < 0 || Hour > 23 ||
      Minute < 0 || Minute > 59 || Second < 0 || Second > 59 || MilliSecond < 0 ||
      MilliSecond > 999)
    throw EDatabaseError("Invalid argument to date encode");
  const double Days = static_cast<double>(DaysFromCivil(Year, Month, Day) - Epoch);
  const double Time =
      static_cast<double>(((Hour * 60 + Minute) * 60 + Second) * 1000 + MilliSecond) /
      static_cast<double>(MsPerDay);
  // Before day 0 the fraction counts away from zero as well (the day is the
  // integral part, the time the fraction, whatever the sign).
  return Days < 0 ? Days - Time : Days + Time;
}

void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Minute,
                    int& Second, int& MilliSecond) {
  if (!std::isfinite(Value) || std::fabs(Value) > 3.0e6)
    throw EDatabaseError("Invalid argument to date decode");
  double DayPart = std::trunc(Value);
  int64_t Ms = std::llround(std::fabs(Value - DayPart) * static_cast<double>(MsPerDay));
  if (Ms >= MsPerDay) { // rounding reached the next day
    Ms -= MsPerDay;
    DayPart += Value < 0 ? -1 : 1;
  }
  CivilFromDays(static_cast<int64_t>(DayPart) + Epoch, Year, Month, Day);
  MilliSecond = static_cast<int>(Ms % 1000);
  Second = static_cast<int>(Ms / 1000 % 60);
  Minute = static_cast<int>(Ms / 60000 % 60);
  Hour = static_cast<int>(Ms / 3600000);
}

const TFormatSettings& FormatSettings() {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  if (!Settings) Settings = EnvironmentFormats();
  return *Settings;
}

void SetFormatSettings(TFormatSettings Value) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  Settings = std::move(Value);
}

void ResetFormatSettings() {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  Settings.reset();
}

std::string DateTimeDisplayText(TDateTime Value) {
  int Y, Mo, D, H, Mi, S, Ms;
  try {
    DecodeDateTime(Value, Y, Mo, D, H, Mi, S, Ms);
  } catch (const EDatabaseError&) {
    return {};
  }
  const TFormatSettings& F = FormatSettings();
  std::tm T{};
  T.tm_year = Y - 1900;
  T.tm_mon = Mo - 1;
  T.tm_mday = D;
  T.tm_hour = H;
  T.tm_min = Mi;
  T.tm_sec = S;
  T.tm_isdst = -1;
  T.tm_wday =
      static_cast<int>(((DaysFromCivil(Y, Mo, D) % 7) + 11) % 7); // 1970-01-01 was a Thursday
  T.tm_yday = static_cast<int>(DaysFromCivil(Y, Mo, D) - DaysFromCivil(Y, 1, 1));
  std::string Format = F.ShortDateFormat;
  if (H != 0 || Mi != 0 || S != 0) Format += " " + F.LongTimeFormat;
  char Buffer[256];
  const size_t Length =
      Format.empty() ? 0 : strftime_l(Buffer, sizeof Buffer, Format.c_str(), &T, TimeLocale());
  return std::string(Buffer, Length);
}
