#pragma once
// Windows icons (.ico) as true-colour images, and the framework's icon
// graphic that images can be assigned to.

#include "imaging/DibGraphic.h"
#include "platform/Icon.h"

// An icon file decoded into a true-colour image: the icon the platform's icon
// object loads (the largest, deepest image of the file), drawn with its mask
// onto black, so transparent parts are black. Resolution: the screen's.
class TIconGraphic : public TDibGraphic {
public:
  // Index is ignored: an icon file gives one image.
  void LoadImageFromStream(TStream& Stream, int Index) override;
  // Writes the image as an icon file of the system's icon size (32 x 32),
  // fully opaque; a larger image is cut, a smaller one padded with black.
  void SaveToStream(TStream& Stream) override;
};

// The framework's icon graphic: holds one platform icon. Assigning a
// TDibGraphic to it (AssignTo) goes through TIconGraphic::SaveToStream.
class TIcon : public TGraphic {
public:
  const TPlatformIcon& Icon() const { return FIcon; }

  // Draws the icon at its own size at the rectangle's top-left corner.
  void Draw(TCanvas& Canvas, const TRect& Rect) override;
  bool GetEmpty() const override { return FIcon.Empty(); }
  int GetHeight() const override { return FIcon.Height(); }
  int GetWidth() const override { return FIcon.Width(); }
  // Raise EInvalidGraphic "Cannot change the size of an icon".
  void SetHeightValue(int Value) override;
  void SetWidthValue(int Value) override;
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;
  // Raise EInvalidGraphic "Clipboard does not support Icons".
  void LoadFromClipboardFormat(uint16_t Format, const TBitmapHandle& Data,
                               const TPalette* Palette) override;
  void SaveToClipboardFormat(uint16_t& Format, TBitmapHandle& Data,
                             const TPalette*& Palette) override;

private:
  TPlatformIcon FIcon;
};

// The icon export of TDibGraphic::AssignTo: when Dest is a TIcon, writes
// Source as an icon (through TIconGraphic) into a memory stream and lets Dest
// load it. Answers false for other destinations.
bool AssignDibToIcon(const TDibGraphic& Source, TPersistent* Dest);
