#include "formats/GifGraphic.h"

#include "platform/ByteReader.h"
#include "platform/MemoryBudget.h"

#include <gif_lib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Frames that ask for no delay or 1/100 s are shown for 100 ms, as browsers
// and other viewers do: many files written for old browsers count on it, and
// showing them as fast as possible makes them flicker.
constexpr int kShortDelayMs = 100;

// giflib reads through this function over the stream's bytes (the stream's
// own memory, or the rest of the stream read at once): no temporary file.
struct TGifInput {
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  size_t Position = 0;
};

int ReadGifBytes(GifFileType* Gif, GifByteType* Buffer, int Count) {
  TGifInput& In = *static_cast<TGifInput*>(Gif->UserData);
  if (Count <= 0 || In.Position >= In.Size) return 0;
  const size_t N = std::min(size_t(Count), In.Size - In.Position);
  std::memcpy(Buffer, In.Data + In.Position, N);
  In.Position += N;
  return int(N);
}

// The message of a giflib error code. Reads only fail at the end of the
// bytes, so a failed read means the file was cut short.
std::string GifMessage(int Code) {
  if (Code == D_GIF_ERR_READ_FAILED) return "GIF: the file ends before its data (truncated)";
  const char* Text = GifErrorString(Code);
  return Text ? std::string("GIF: ") + Text : "GIF: giflib error " + std::to_string(Code);
}

// One image of the file as its descriptor and graphic control extension
// describe it, in logical screen coordinates.
struct TFrameInfo {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Interlace = false;
  int Transparent = NO_TRANSPARENT_COLOR;
  int Disposal = DISPOSAL_UNSPECIFIED;
  int DelayMs = 0; // 0: the file gives none (no graphic control extension)
  bool LocalTable = false;
};

// The part of a frame's rectangle inside a W x H screen (possibly empty).
struct TClip {
  int X0, Y0, X1, Y1;
  bool Empty() const { return X0 >= X1 || Y0 >= Y1; }
};
TClip ClipToScreen(const TFrameInfo& F, int W, int H) {
  return {std::min(F.Left, W), std::min(F.Top, H), std::min(F.Left + F.Width, W),
          std::min(F.Top + F.Height, H)};
}

// A decoder handle: the records of the file one after another.
class TGifFile {
public:
  enum TNext { nxImage, nxEnd, nxError };

  explicit TGifFile(TGifInput& In) {
    In.Position = 0;
    int Error = 0;
    FGif = DGifOpen(&In, ReadGifBytes, &Error);
    if (!FGif) throw EGifError(GifMessage(Error));
  }
  ~TGifFile() {
    int Ignored = 0;
    DGifCloseFile(FGif, &Ignored);
  }
  TGifFile(const TGifFile&) = delete;
  TGifFile& operator=(const TGifFile&) = delete;

  GifFileType* Gif() const { return FGif; }
  int Error() const { return FGif->Error; }
  // The NETSCAPE2.0 (or ANIMEXTS1.0) loop count seen so far; -1: none.
  int LoopValue() const { return FLoopValue; }

  // Reads the records up to the next image's descriptor: nxImage with Frame
  // filled and the image's colour table in ColorMap(); nxEnd at the trailer;
  // nxError on damage (Error() tells).
  TNext Next(TFrameInfo& Frame) {
    GraphicsControlBlock Control{DISPOSAL_UNSPECIFIED, false, -1, NO_TRANSPARENT_COLOR};
    for (;;) {
      GifRecordType Type = UNDEFINED_RECORD_TYPE;
      if (DGifGetRecordType(FGif, &Type) == GIF_ERROR) return nxError;
      if (Type == TERMINATE_RECORD_TYPE) return nxEnd;
      if (Type == EXTENSION_RECORD_TYPE) {
        if (!ReadExtension(Control)) return nxError;
        continue;
      }
      if (Type != IMAGE_DESC_RECORD_TYPE) {
        FGif->Error = D_GIF_ERR_WRONG_RECORD;
        return nxError;
      }
      // The header only: DGifGetImageDesc would also keep a copy of every
      // image's description for the whole file.
      if (DGifGetImageHeader(FGif) == GIF_ERROR) return nxError;
      const GifImageDesc& D = FGif->Image;
      Frame = TFrameInfo{};
      Frame.Left = D.Left;
      Frame.Top = D.Top;
      Frame.Width = D.Width;
      Frame.Height = D.Height;
      Frame.Interlace = D.Interlace;
      Frame.LocalTable = D.ColorMap != nullptr;
      Frame.Transparent = Control.TransparentColor;
      Frame.Disposal = Control.DisposalMode <= DISPOSE_PREVIOUS ? Control.DisposalMode : 0;
      if (Control.DelayTime >= 0)
        Frame.DelayMs = Control.DelayTime <= 1 ? kShortDelayMs : Control.DelayTime * 10;
      return nxImage;
    }
  }

  // The colour table of the image just announced by Next: its own, else the
  // file's global one; null when the file has neither.
  const ColorMapObject* ColorMap() const {
    return FGif->Image.ColorMap ? FGif->Image.ColorMap : FGif->SColorMap;
  }

  // Skips the rest of the image's data blocks (all of them when no line was
  // read).
  bool SkipData() {
    int CodeSize = 0;
    GifByteType* Block = nullptr;
    if (DGifGetCode(FGif, &CodeSize, &Block) == GIF_ERROR) return false;
    while (Block)
      if (DGifGetCodeNext(FGif, &Block) == GIF_ERROR) return false;
    return true;
  }

private:
  bool ReadExtension(GraphicsControlBlock& Control) {
    int Code = 0;
    GifByteType* Block = nullptr;
    if (DGifGetExtension(FGif, &Code, &Block) == GIF_ERROR) return false;
    bool Looping = false;
    if (Block && Code == GRAPHICS_EXT_FUNC_CODE) {
      // A control block of the wrong length is ignored, as browsers do.
      GraphicsControlBlock G{};
      if (DGifExtensionToGCB(Block[0], Block + 1, &G) == GIF_OK) Control = G;
    } else if (Block && Code == APPLICATION_EXT_FUNC_CODE && Block[0] == 11) {
      Looping = std::memcmp(Block + 1, "NETSCAPE2.0", 11) == 0 ||
                std::memcmp(Block + 1, "ANIMEXTS1.0", 11) == 0;
    }
    while (Block) {
      if (DGifGetExtensionNext(FGif, &Block) == GIF_ERROR) return false;
      // Sub-block 1 of the looping extension: a 16-bit little-endian count.
      if (Looping && Block && Block[0] >= 3 && Block[1] == 1) {
        FLoopValue = TByteReader(Block + 2, 2).Le16();
        Looping = false;
      }
    }
    return true;
  }

  GifFileType* FGif = nullptr;
  int FLoopValue = -1;
};

// The colours of a colour table for all 256 indices, each as blue, green and
// red in the low three bytes of a 32-bit value (written as little-endian
// bytes): indices past the table are black, as are those of a file without
// any table, which shows as a grey ramp.
struct TColorTable {
  uint32_t Bgr[256];
  explicit TColorTable(const ColorMapObject* Map) {
    std::memset(Bgr, 0, sizeof Bgr);
    const int Count = Map ? std::min(Map->ColorCount, 256) : 256;
    for (int I = 0; I < Count; ++I) {
      const GifColorType C = Map && Map->Colors ? Map->Colors[I]
                                                : GifColorType{uint8_t(I), uint8_t(I), uint8_t(I)};
      Bgr[I] = uint32_t(C.Blue) | uint32_t(C.Green) << 8 | uint32_t(C.Red) << 16;
    }
  }
  TLogPalette Palette() const {
    TLogPalette P{};
    P.palVersion = 0x300;
    P.palNumEntries = 256;
    for (int I = 0; I < 256; ++I)
      P.palPalEntry[I] =
          TPaletteEntry{uint8_t(Bgr[I] >> 16), uint8_t(Bgr[I] >> 8), uint8_t(Bgr[I]), 0};
    return P;
  }
};

// Fills the rectangle C of a true-colour picture.
void FillRect(TDibGraphic& G, const TClip& C, uint32_t Colour) {
  if (G.ImageFormat() != ifTrueColor) return; // palette frames never show the background
  const uint8_t B = uint8_t(Colour), Gr = uint8_t(Colour >> 8), R = uint8_t(Colour >> 16);
  for (int Y = C.Y0; Y < C.Y1; ++Y) {
    uint8_t* P = G.ScanLine(Y) + 3 * size_t(C.X0);
    for (int X = C.X0; X < C.X1; ++X, P += 3) {
      P[0] = B;
      P[1] = Gr;
      P[2] = R;
    }
  }
}

// Copies the rectangle C of G (Bpp bytes a pixel) into Saved, or back.
void SaveRect(const TDibGraphic& G, const TClip& C, int Bpp, std::vector<uint8_t>& Saved) {
  if (C.Empty()) return;
  const size_t RowBytes = size_t(Bpp) * size_t(C.X1 - C.X0);
  Saved.resize(RowBytes * size_t(C.Y1 - C.Y0));
  for (int Y = C.Y0; Y < C.Y1; ++Y)
    std::memcpy(Saved.data() + RowBytes * size_t(Y - C.Y0), G.ScanLine(Y) + Bpp * size_t(C.X0),
                RowBytes);
}
void RestoreRect(TDibGraphic& G, const TClip& C, int Bpp, const std::vector<uint8_t>& Saved) {
  if (C.Empty()) return;
  const size_t RowBytes = size_t(Bpp) * size_t(C.X1 - C.X0);
  if (Saved.size() < RowBytes * size_t(C.Y1 - C.Y0)) return;
  for (int Y = C.Y0; Y < C.Y1; ++Y)
    std::memcpy(G.ScanLine(Y) + Bpp * size_t(C.X0), Saved.data() + RowBytes * size_t(Y - C.Y0),
                RowBytes);
}

// Decodes the image just announced by Next row by row. Where(Y) names where
// the indices of screen row Y are decoded to (null: a line buffer of the
// reader's own); Sink(Y, Indices) then gets each row that lies on the W x H
// screen. Rows below the screen of a non-interlaced image are not decoded.
// False when the data are damaged or cut short.
template <class TWhere, class TSink>
bool DecodeRows(TGifFile& File, const TFrameInfo& F, int W, int H, std::vector<uint8_t>& Line,
                TWhere&& Where, TSink&& Sink) {
  const TClip C = ClipToScreen(F, W, H);
  if (C.Empty()) return File.SkipData(); // nothing of it is seen
  Line.resize(size_t(F.Width));
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  const int Passes = F.Interlace ? 4 : 1;
  int Read = 0;
  for (int Pass = 0; Pass < Passes; ++Pass) {
    const int Step = F.Interlace ? kStep[Pass] : 1;
    for (int R = F.Interlace ? kStart[Pass] : 0; R < F.Height; R += Step) {
      const int Y = F.Top + R;
      if (!F.Interlace && Y >= H) return File.SkipData(); // the rest lies below the screen
      uint8_t* To = Y < H ? Where(Y) : nullptr;
      if (!To) To = Line.data();
      if (DGifGetLine(File.Gif(), To, F.Width) == GIF_ERROR) return false;
      ++Read;
      if (Y < H) Sink(Y, To);
    }
  }
  // giflib skips the trailing blocks itself once every pixel was read.
  return Read == F.Height || F.Height == 0 ? true : File.SkipData();
}

static_assert(std::endian::native == std::endian::little, "colours are stored as little-endian words");
inline void Store32(uint8_t* D, uint32_t V) {
  std::memcpy(D, &V, 4);
}
inline void Put3(uint8_t* D, uint32_t C) {
  D[0] = uint8_t(C);
  D[1] = uint8_t(C >> 8);
  D[2] = uint8_t(C >> 16);
}

// Writes the visible part of a row of indices as colours; the transparent
// index leaves what is there.
void PutRow(uint8_t* Row, const uint8_t* Line, const TFrameInfo& F, const TClip& C,
            const TColorTable& Table) {
  uint8_t* D = Row + 3 * size_t(C.X0);
  const uint8_t* S = Line + (C.X0 - F.Left);
  const int N = C.X1 - C.X0;
  const uint32_t* T = Table.Bgr;
  int I = 0;
  if (F.Transparent < 0) {
    // Four pixels as three 32-bit stores (the bytes are little-endian).
    for (; I + 4 <= N; I += 4, D += 12) {
      const uint32_t P0 = T[S[I]], P1 = T[S[I + 1]], P2 = T[S[I + 2]], P3 = T[S[I + 3]];
      Store32(D, P0 | P1 << 24);
      Store32(D + 4, P1 >> 8 | P2 << 16);
      Store32(D + 8, P2 >> 16 | P3 << 8);
    }
    for (; I < N; ++I, D += 3)
      Put3(D, T[S[I]]);
  } else {
    const int Transparent = F.Transparent;
    for (; I < N; ++I, D += 3)
      if (S[I] != Transparent) Put3(D, T[S[I]]);
  }
}

// The same for a palette picture of the frame's colour table.
void PutIndices(uint8_t* Row, const uint8_t* Line, const TFrameInfo& F, const TClip& C) {
  uint8_t* D = Row + C.X0;
  const uint8_t* S = Line + (C.X0 - F.Left);
  const int N = C.X1 - C.X0;
  if (F.Transparent < 0) {
    std::memcpy(D, S, size_t(N));
    return;
  }
  for (int I = 0; I < N; ++I)
    if (S[I] != F.Transparent) D[I] = S[I];
}

// A file too short to fill a meaningful part of a W x H picture is refused
// before any pixel memory is taken. LZW codes at best one string of up to
// 4096 pixels in a 12-bit code.
void RefuseShortData(uint64_t FileBytes, int64_t W, int64_t H) {
  if (W <= 0 || H <= 0) return;
  const uint64_t Pixels = uint64_t(W) * uint64_t(H);
  if (!DataCanFill(FileBytes, Pixels * 12 / 8 / 4096, Pixels * 3))
    throw EGifError(ShortDataMessage("GIF", FileBytes, W, H));
}

} // namespace

void TGifGraphic::LoadImageFromStream(TStream& Stream, int Index) {
  const TStreamBytes Bytes(Stream);
  TGifInput In{Bytes.Data(), Bytes.Size(), 0};

  // First pass: the screen, every frame's rectangle and control block and the
  // loop count, skipping the pixel data. Nothing is allocated for pixels
  // before all sizes are known to be within the limits.
  std::vector<TFrameInfo> Infos;
  std::string Stop; // why the frames end early: the file is damaged past them
  int ScreenW = 0, ScreenH = 0, LoopValue = -1;
  {
    TGifFile File(In);
    ScreenW = File.Gif()->SWidth;
    ScreenH = File.Gif()->SHeight;
    if (!PixelsAllowed(ScreenW, ScreenH)) throw EGifError(PixelLimitMessage(ScreenW, ScreenH));
    RefuseShortData(Bytes.Size(), ScreenW, ScreenH);
    while (Infos.size() < size_t(MaxAnimationFrames)) {
      TFrameInfo F;
      const TGifFile::TNext Next = File.Next(F);
      if (Next == TGifFile::nxEnd) break;
      if (Next == TGifFile::nxError) {
        Stop = GifMessage(File.Error());
        break;
      }
      if (!PixelsAllowed(F.Width, F.Height)) throw EGifError(PixelLimitMessage(F.Width, F.Height));
      RefuseShortData(Bytes.Size(), F.Width, F.Height);
      if (!File.SkipData()) { // a frame whose data are cut short is not one
        Stop = GifMessage(File.Error());
        break;
      }
      Infos.push_back(F);
    }
    LoopValue = File.LoopValue();
  }
  if (Infos.empty()) throw EGifError(Stop.empty() ? "GIF: the file holds no image" : Stop);

  // A screen of no size takes the frames' extent.
  int W = ScreenW, H = ScreenH;
  for (const TFrameInfo& F : Infos) {
    if (ScreenW <= 0) W = std::max(W, F.Left + F.Width);
    if (ScreenH <= 0) H = std::max(H, F.Top + F.Height);
  }
  if (W <= 0 || H <= 0) throw EGifError("GIF: the picture has no pixels");
  if (!PixelsAllowed(W, H)) throw EGifError(PixelLimitMessage(W, H));
  RefuseShortData(Bytes.Size(), W, H);

  const int Count = int(Infos.size());
  if (Index > Count)
    throw EGifError("GIF: frame " + std::to_string(Index) + " does not exist (the file holds " +
                    std::to_string(Count) + (Count == 1 ? " frame)" : " frames)"));
  // Palette frames when no pixel can ever show the background: frames 1 to
  // Last of one colour table (the file's global one, or a still's own), the
  // first frame opaque, covering the screen and leaving it covered, none
  // cleared to the background (later frames' transparent pixels leave the
  // colours of the frame before). Then the table's colours are all there is:
  // a third of true colour's memory, the indices decoded straight into the
  // picture's rows. Anything else is true colour.
  auto PaletteFor = [&](int Last) {
    for (int K = 1; K <= Last; ++K) {
      const TFrameInfo& F = Infos[size_t(K - 1)];
      if ((Last > 1 && F.LocalTable) || (F.Disposal == DISPOSE_BACKGROUND && K < Last)) return false;
      if (K == 1 && (F.Transparent >= 0 || F.Left != 0 || F.Top != 0 || F.Width < W ||
                     F.Height < H || (F.Disposal == DISPOSE_PREVIOUS && Last > 1)))
        return false;
    }
    return true;
  };
  // Frames 1..Last are decoded; an animation keeps them all when they fit.
  bool KeepAll = Index <= 1 && Count > 1;
  if (KeepAll && !AnimationFramesFit(W, H, Count, Bytes.Size(), PaletteFor(Count) ? 8 : 24)) {
    KeepAll = false;
    SetFramesOmitted(true);
  }
  const int Last = KeepAll ? Count : std::max(Index, 1);
  const bool Palette = PaletteFor(Last);
  const TImageFormat Format = Palette ? ifColor256 : ifTrueColor;
  const int Bpp = Palette ? 1 : 3;

  // Each frame is drawn over what the one before left after its disposal
  // ("leave", "restore to background": transparent, that is BackgroundColor,
  // as browsers do instead of the screen's background colour; "restore to
  // previous": the rectangle as it was before the frame).
  TGifFile File(In);
  std::vector<uint8_t> Line;
  TLogPalette Table{};
  std::vector<std::unique_ptr<TDibGraphic>> Done;
  TDibGraphic* Previous = nullptr; // frame K - 1, whole
  TFrameInfo PreviousInfo;
  std::vector<uint8_t> Saved; // the rectangle a "restore to previous" frame covered
  const TClip Screen{0, 0, W, H};
  for (int K = 1; K <= Last; ++K) {
    TFrameInfo F;
    bool Ok = File.Next(F) == TGifFile::nxImage;
    const TColorTable Colours(Ok ? File.ColorMap() : nullptr);
    if (K == 1 && Palette) Table = Colours.Palette();
    const TClip C = ClipToScreen(F, W, H);

    // The frame shown last becomes this image; the others are frames of their own.
    TDibGraphic* Target = this;
    std::unique_ptr<TDibGraphic> Own;
    if (Ok && (KeepAll || K < Last)) {
      Own = std::make_unique<TDibGraphic>();
      Target = Own.get();
    }
    if (Ok) {
      try {
        Target->NewImage(W, H, Format, Palette ? &Table : nullptr, 0, 0);
      } catch (const EImageError&) {
        // Frames past the first that do not fit: the first one shows, still.
        if (!KeepAll || Done.empty()) throw;
        Done.resize(1);
        SetFramesOmitted(true);
        break;
      }
      // What the frame is drawn over: needed where it leaves pixels as they
      // are, and to restore them after a "restore to previous" frame.
      const bool Covers = F.Transparent < 0 && C.X0 == 0 && C.Y0 == 0 && C.X1 == W && C.Y1 == H;
      const bool KeepBefore = F.Disposal == DISPOSE_PREVIOUS && K < Last;
      if (!Covers || KeepBefore) {
        if (!Previous) {
          FillRect(*Target, Screen, BackgroundColor); // true colour: a palette frame 1 covers
        } else {
          std::memcpy(Target->Bits(), Previous->Bits(),
                      size_t(Target->BytesPerRow()) * size_t(H));
          const TClip P = ClipToScreen(PreviousInfo, W, H);
          if (PreviousInfo.Disposal == DISPOSE_BACKGROUND)
            FillRect(*Target, P, BackgroundColor);
          else if (PreviousInfo.Disposal == DISPOSE_PREVIOUS)
            RestoreRect(*Target, P, Bpp, Saved);
        }
      }
      if (KeepBefore) SaveRect(*Target, C, Bpp, Saved);
      // Opaque palette rows as wide as the screen are decoded in place.
      const bool InPlace = Palette && F.Transparent < 0 && F.Left == 0 && F.Width == W;
      Ok = DecodeRows(
          File, F, W, H, Line, [&](int Y) { return InPlace ? Target->ScanLine(Y) : nullptr; },
          [&](int Y, const uint8_t* Row) {
            if (InPlace) return;
            if (Palette)
              PutIndices(Target->ScanLine(Y), Row, F, C);
            else
              PutRow(Target->ScanLine(Y), Row, F, C, Colours);
          });
      if (F.DelayMs > 0) Target->SetFrameDelay(F.DelayMs);
    }
    if (!Ok) {
      // Damage in the first frame, or in the one asked for, refuses the
      // file; later in an animation, the frames before it play.
      if (K == 1 || !KeepAll) throw EGifError(GifMessage(File.Error()));
      break;
    }
    if (Own) {
      Done.push_back(std::move(Own));
      Previous = Done.back().get();
      // Only the frame before is needed when a later one is the picture.
      if (!KeepAll && Done.size() > 1) Done.erase(Done.begin());
    } else {
      Previous = this;
    }
    PreviousInfo = F;
  }

  SetLoopCount(LoopValue < 0 ? 1 : LoopValue == 0 ? 0 : LoopValue + 1);
  if (!KeepAll) return; // this image holds frame Last
  if (Done.size() > 1) {
    SetAnimationFrames(std::move(Done));
  } else {
    Assign(Done.front().get()); // one frame decoded (or fitted): a still
  }
}
