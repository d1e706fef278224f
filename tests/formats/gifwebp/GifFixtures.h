#pragma once
// Small GIF files written with giflib's own encoder: a screen, colour tables,
// frames with their control blocks and the looping extension, as the test
// describes them.

#include <gif_lib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace giffix {

struct TFrame {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;     // indices, Width x Height, top row first
  std::vector<uint32_t> Colors;    // a local colour table (0x00RRGGBB); empty: none
  bool Interlace = false;          // written in interlaced row order
  bool Control = true;             // a graphic control extension before the image
  int Disposal = DISPOSAL_UNSPECIFIED;
  int DelayCs = 0;                 // centiseconds
  int Transparent = NO_TRANSPARENT_COLOR;
};

struct TGif {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Colors; // the global colour table; empty: none
  int Loop = -1;                // NETSCAPE2.0 loop count; -1: no looping extension
  std::vector<TFrame> Frames;
  bool Trailer = true;
};

inline int WriteToString(GifFileType* Gif, const GifByteType* Bytes, int Count) {
  static_cast<std::string*>(Gif->UserData)->append(reinterpret_cast<const char*>(Bytes), size_t(Count));
  return Count;
}

// A colour map of the table's size rounded up to a power of two.
inline ColorMapObject* MakeMap(const std::vector<uint32_t>& Colors) {
  if (Colors.empty()) return nullptr;
  int Size = 2;
  while (Size < int(Colors.size())) Size *= 2;
  std::vector<GifColorType> Entries(size_t(Size), GifColorType{0, 0, 0});
  for (size_t I = 0; I < Colors.size(); ++I)
    Entries[I] = GifColorType{uint8_t(Colors[I] >> 16), uint8_t(Colors[I] >> 8), uint8_t(Colors[I])};
  return GifMakeMapObject(Size, Entries.data());
}

// The GIF file the description gives; empty when giflib refused it.
inline std::string Encode(const TGif& D) {
  std::string Out;
  int Error = 0;
  GifFileType* Gif = EGifOpen(&Out, WriteToString, &Error);
  if (!Gif) return {};
  EGifSetGifVersion(Gif, true);
  ColorMapObject* Global = MakeMap(D.Colors);
  bool Ok = EGifPutScreenDesc(Gif, D.Width, D.Height, 8, 0, Global) == GIF_OK;
  if (Ok && D.Loop >= 0) {
    const uint8_t Count[3] = {1, uint8_t(D.Loop & 0xFF), uint8_t(D.Loop >> 8)};
    Ok = EGifPutExtensionLeader(Gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(Gif, 11, "NETSCAPE2.0") == GIF_OK &&
         EGifPutExtensionBlock(Gif, 3, Count) == GIF_OK &&
         EGifPutExtensionTrailer(Gif) == GIF_OK;
  }
  for (const TFrame& F : D.Frames) {
    if (!Ok) break;
    if (F.Control) {
      GraphicsControlBlock Gcb{F.Disposal, false, F.DelayCs, F.Transparent};
      GifByteType Bytes[4];
      EGifGCBToExtension(&Gcb, Bytes);
      Ok = EGifPutExtension(Gif, GRAPHICS_EXT_FUNC_CODE, 4, Bytes) == GIF_OK;
    }
    ColorMapObject* Local = MakeMap(F.Colors);
    Ok = Ok && EGifPutImageDesc(Gif, F.Left, F.Top, F.Width, F.Height, F.Interlace, Local) == GIF_OK;
    if (Local) GifFreeMapObject(Local);
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int Pass = 0; Ok && Pass < (F.Interlace ? 4 : 1); ++Pass)
      for (int R = F.Interlace ? kStart[Pass] : 0; Ok && R < F.Height; R += F.Interlace ? kStep[Pass] : 1) {
        std::vector<GifPixelType> Row(F.Pixels.begin() + ptrdiff_t(R) * F.Width,
                                      F.Pixels.begin() + ptrdiff_t(R + 1) * F.Width);
        Ok = EGifPutLine(Gif, Row.data(), F.Width) == GIF_OK;
      }
  }
  EGifCloseFile(Gif, &Error);
  if (Global) GifFreeMapObject(Global);
  if (!Ok) return {};
  if (!D.Trailer && !Out.empty() && Out.back() == ';') Out.pop_back();
  return Out;
}

// A frame of one colour index.
inline TFrame Solid(int Left, int Top, int Width, int Height, uint8_t Index) {
  TFrame F;
  F.Left = Left;
  F.Top = Top;
  F.Width = Width;
  F.Height = Height;
  F.Pixels.assign(size_t(Width) * size_t(Height), Index);
  return F;
}

} // namespace giffix
