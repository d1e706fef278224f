#pragma once
// Calendar arithmetic of the table's date and time values: days from
// 1970-01-01 to a proleptic Gregorian date and back (valid far beyond the
// years any file can hold).

#include <cstdint>

inline int64_t DaysFromCivil(int64_t Y, int M, int D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const int64_t YoE = Y - Era * 400;
  const int64_t DoY = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const int64_t DoE = YoE * 365 + YoE / 4 - YoE / 100 + DoY;
  return Era * 146097 + DoE - 719468;
}

inline void CivilFromDays(int64_t Z, int& Y, int& M, int& D) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const int64_t DoE = Z - Era * 146097;
  const int64_t YoE = (DoE - DoE / 1460 + DoE / 36524 - DoE / 146096) / 365;
  const int64_t DoY = DoE - (365 * YoE + YoE / 4 - YoE / 100);
  const int64_t MP = (5 * DoY + 2) / 153;
  D = static_cast<int>(DoY - (153 * MP + 2) / 5 + 1);
  M = static_cast<int>(MP < 10 ? MP + 3 : MP - 9);
  Y = static_cast<int>(YoE + Era * 400 + (M <= 2));
}
