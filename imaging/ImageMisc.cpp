// Small routines shared by the image library's parts.

#include "platform/CivilDate.h"
#include "imaging/DibGraphic.h"

#include <cmath>
#include <cstdio>

std::string ShortDateFormat = "dd/mm/yyyy";
std::string LongTimeFormat = "hh:nn:ss";

void SwapRgb(uint8_t* Buffer, size_t Count) {
  for (size_t i = 0; i + 3 <= Count; i += 3)
    std::swap(Buffer[i], Buffer[i + 2]);
}

int Ceil(double X) {
  int r = int(X);
  if (X - r > 0) ++r;
  return r;
}

int Floor(double X) {
  int r = int(X);
  if (X - r < 0) --r;
  return r;
}

std::string AddBackSlash(const std::string& Folder) {
  if (!Folder.empty() && (Folder.back() == '\\' || Folder.back() == ':')) return Folder;
  return Folder + "\\";
}

namespace {

// Days since 1899-12-30 to a civil date (proleptic Gregorian) and time.
struct TParts {
  int Year, Month, Day, Hour, Minute, Second, Milli;
};

TParts Decode(double DateTime) {
  double days = std::floor(DateTime);
  double frac = std::fabs(DateTime - days);
  if (DateTime < 0) { // negative values: the time part counts forwards from the date
    days = std::ceil(DateTime);
    frac = std::fabs(DateTime - days);
  }
  int64_t ms = int64_t(std::llround(frac * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  int y = 0, m = 0, d = 0;
  CivilFromDays(int64_t(days) - 25569, y, m, d); // day 25569 is 1970-01-01
  return TParts{
      y, m, d, int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000)};
}

// Formats with the letters y, m, d, h, n, s, z (doubled for leading zeros,
// yyyy for four digits, "am/pm" for a 12-hour clock); text in quotes is copied.
std::string FormatParts(const std::string& Format, double DateTime) {
  const TParts p = Decode(DateTime);
  std::string out;
  const bool ampm =
      Format.find("am/pm") != std::string::npos || Format.find("AM/PM") != std::string::npos;
  char buf[16];
  for (size_t i = 0; i < Format.size();) {
    const char c = Format[i];
    const char lc = char(std::tolower(static_cast<unsigned char>(c)));
    size_t n = 1;
    while (i + n < Format.size() && std::tolower(static_cast<unsigned char>(Format[i + n])) == lc)
      ++n;
    if (c == '"' || c == '\'') {
      const size_t end = Format.find(c, i + 1);
      out += Format.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      i = end == std::string::npos ? Format.size() : end + 1;
      continue;
    }
    if (lc == 'a' && (Format.compare(i, 5, "am/pm") == 0 || Format.compare(i, 5, "AM/PM") == 0)) {
      out += p.Hour < 12 ? (c == 'a' ? "am" : "AM") : (c == 'a' ? "pm" : "PM");
      i += 5;
      continue;
    }
    int value = -1, width = n >= 2 ? 2 : 1;
    switch (lc) {
    case 'y':
      value = n >= 3 ? p.Year : p.Year % 100;
      width = n >= 3 ? 4 : 2;
      break;
    case 'm':
      value = p.Month;
      break;
    case 'd':
      value = p.Day;
      break;
    case 'h':
      value = ampm ? (p.Hour % 12 == 0 ? 12 : p.Hour % 12) : p.Hour;
      break;
    case 'n':
      value = p.Minute;
      break;
    case 's':
      value = p.Second;
      break;
    case 'z':
      value = p.Milli;
      width = n >= 3 ? 3 : 1;
      break;
    default:
      break;
    }
    if (value < 0) {
      out.append(Format, i, n);
    } else {
      std::snprintf(buf, sizeof buf, "%0*d", width, value);
      out += buf;
    }
    i += n;
  }
  return out;
}

// Sets a global format for the duration of a call, restoring it on every exit.
class TFormatScope {
public:
  TFormatScope(std::string& Global, const std::string& Value) : FGlobal(Global), FSaved(Global) {
    Global = Value;
  }
  ~TFormatScope() { FGlobal = FSaved; }

private:
  std::string& FGlobal;
  std::string FSaved;
};

} // namespace

std::string DateToStr(double DateTime) {
  return FormatParts(ShortDateFormat, DateTime);
}
std::string TimeToStr(double DateTime) {
  return FormatParts(LongTimeFormat, DateTime);
}

std::string FormatDate(const std::string& Format, double DateTime) {
  TFormatScope scope(ShortDateFormat, Format);
  return DateToStr(DateTime);
}

std::string FormatTime(const std::string& Format, double DateTime) {
  TFormatScope scope(LongTimeFormat, Format);
  return TimeToStr(DateTime);
}

void LzwError() {
  throw EImageError("LZW compression not supported");
}
