// Targa files through TTgaGraphic.

#include "fuzz/common/BmmFuzz.h"
#include "formats/TgaGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  TBytesStream s(Data, static_cast<int64_t>(Size));
  TTgaGraphic g;
  try {
    g.LoadFromStream(s);
  } catch (const std::exception&) {
  }
  return 0;
}
