// Small routines shared by the image library's parts.

#include "imaging/DibGraphic.h"

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

void LzwError() {
  throw EImageError("LZW compression not supported");
}
