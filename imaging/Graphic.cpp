// The graphic base classes (TPersistent, TGraphic), the clipboard object and
// the free functions of the image model.
#include "imaging/DibGraphic.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kInchesPerMetre = 39.37007874015748;

} // namespace

// ---------------------------------------------------------------------------
// TPersistent, TGraphic

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
    return;
  }
  throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  throw EConvertError("Cannot assign a " + ClassName() + " to a " +
                      (Dest ? Dest->ClassName() : "nil"));
}

std::string TPersistent::ClassName() const {
  return DemangledClassName(typeid(*this));
}

void TGraphic::Changed() {
  FModified = true;
  if (OnChange) OnChange(this);
}

bool TGraphic::Equals(const TGraphic* Graphic) const {
  if (!Graphic || Graphic->ClassName() != ClassName()) return false;
  if (Empty() || Graphic->Empty()) return Empty() == Graphic->Empty();
  TMemoryStream a, b;
  const_cast<TGraphic*>(this)->SaveToStream(a);
  const_cast<TGraphic*>(Graphic)->SaveToStream(b);
  return a.Size() == b.Size() &&
         (a.Size() == 0 || std::memcmp(a.Memory(), b.Memory(), size_t(a.Size())) == 0);
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, TFileMode::fmOpenRead);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& FileName) {
  TFileStream stream(FileName, TFileMode::fmCreate);
  SaveToStream(stream);
}

// ---------------------------------------------------------------------------
// TClipboard

void TClipboard::Assign(const TPersistent* Source) {
  if (const auto* g = dynamic_cast<const TGraphic*>(Source)) {
    uint16_t format = 0;
    TBitmapHandle data;
    const TPalette* palette = nullptr;
    Open();
    const_cast<TGraphic*>(g)->SaveToClipboardFormat(format, data, palette);
    if (data) ClipboardSetBitmap(*data);
    Close();
    return;
  }
  TPersistent::Assign(Source);
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

// ---------------------------------------------------------------------------
// Free functions

int BitsPerPixel(TImageFormat Format) {
  switch (Format) {
  case ifBlackWhite:
    return 1;
  case ifGray16:
    return 4;
  case ifGray256:
    return 8;
  case ifColor16:
    return 4;
  case ifColor256:
    return 8;
  case ifTrueColor:
    return 24;
  }
  throw EImageError("Internal error: Invalid image format");
}

std::string ImageFormatName(TImageFormat Format) {
  switch (Format) {
  case ifBlackWhite:
    return "Black and white";
  case ifGray16:
    return "16 shades of gray";
  case ifGray256:
    return "256 shades of gray";
  case ifColor16:
    return "16 color";
  case ifColor256:
    return "256 color";
  case ifTrueColor:
    return "True color";
  }
  return "";
}

TImageFormat FormatFromBitCount(int Count) {
  switch (Count) {
  case 1:
    return ifBlackWhite;
  case 4:
    return ifColor16;
  case 8:
    return ifColor256;
  case 24:
    return ifTrueColor;
  default:
    throw EImageError("Unsupported bit count");
  }
}

int DpiToPelsPerMeter(double Dpi) {
  return int(std::nearbyint(Dpi * kInchesPerMetre));
}

int PelsPerMeterToDpi(double PelsPerMeter) {
  const double d = std::nearbyint(PelsPerMeter / kInchesPerMetre);
  if (d < 0 || d > 65535) return 0;
  return int(d);
}
