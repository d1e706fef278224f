#include "formats/JxlGraphic.h"

#include "imaging/AlphaComposite.h"
#include "imaging/Orientation.h"
#include "platform/MemoryBudget.h"

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TDecoderDestroy {
  void operator()(JxlDecoder* P) const { JxlDecoderDestroy(P); }
};
struct TRunnerDestroy {
  void operator()(void* P) const { JxlResizableParallelRunnerDestroy(P); }
};

// libjxl keeps up to three planes of 32-bit samples per channel of the frame
// it decodes (lossless files keep them all); an animation also keeps
// reference frames of the canvas's size.
constexpr uint64_t kWorkingBytesPerSample = 4;
constexpr uint64_t kAnimationFactor = 2;

// The frames of an animation, beyond the first, may together have at most
// this many pixels per byte of the file: a small file of many frames over a
// large canvas cannot take memory and time out of proportion to its data.
// Real animations stay far below (a frame that changes a few pixels still
// costs tens of bytes).
constexpr uint64_t kFramePixelsPerByte = uint64_t(1) << 14;

// Frame counts frames from the file's start; 0 before the first.
std::string Where(int Frame) {
  return Frame == 0 ? "in its header" : "in frame " + std::to_string(Frame);
}

// The layout the decoder writes and how its rows become the image's.
struct TOutput {
  int Width = 0;
  int Height = 0;
  int Channels = 3; // 1 grey, 3 RGB, 4 RGBA
  // RGBA rows, composited into the image once the frame is complete.
  std::unique_ptr<uint8_t[]> Rgba;
  size_t RgbaSize = 0;
};

// Grey and RGB rows are written by the decoder straight into the image's
// pixel memory, top row first, with the image's own row stride (rows padded
// to 4 bytes). This turns them into the image's order: bottom row first,
// blue-green-red.
void TopDownToImage(const TDibGraphic& Image, int Channels) {
  const int Height = Image.Height();
  const ptrdiff_t Stride = Image.BytesPerRow();
  const size_t Width = size_t(Image.Width());
  uint8_t* const Bits = Image.Bits();
  for (int Top = 0, Bottom = Height - 1; Top <= Bottom; ++Top, --Bottom) {
    uint8_t* A = Bits + Top * Stride;
    uint8_t* B = Bits + Bottom * Stride;
    if (Channels == 1) {
      if (A != B) std::swap_ranges(A, A + Width, B);
      continue;
    }
    for (size_t X = 0; X < Width; ++X, A += 3, B += 3) {
      const uint8_t Red = A[0], Green = A[1], Blue = A[2];
      A[0] = B[2];
      A[1] = B[1];
      A[2] = B[0];
      B[0] = Blue;
      B[1] = Green;
      B[2] = Red;
    }
  }
}

bool IsSrgb(const JxlColorEncoding& E) {
  return E.white_point == JXL_WHITE_POINT_D65 && E.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
         (E.color_space == JXL_COLOR_SPACE_GRAY ||
          (E.color_space == JXL_COLOR_SPACE_RGB && E.primaries == JXL_PRIMARIES_SRGB));
}

// The description of an enumerated colour encoding; null for sRGB and for
// encodings whose curve is unknown (shown as sRGB).
TColorDescriptionPtr DescriptionOf(const JxlColorEncoding& E) {
  if (IsSrgb(E)) return nullptr;
  if (E.color_space != JXL_COLOR_SPACE_RGB && E.color_space != JXL_COLOR_SPACE_GRAY) return nullptr;
  auto D = std::make_shared<TColorDescription>();
  switch (E.transfer_function) {
  case JXL_TRANSFER_FUNCTION_SRGB:
    D->Transfer = TColorDescription::tfSRGB;
    break;
  case JXL_TRANSFER_FUNCTION_709:
    D->Transfer = TColorDescription::tfBT709;
    break;
  case JXL_TRANSFER_FUNCTION_LINEAR:
    D->Transfer = TColorDescription::tfLinear;
    break;
  case JXL_TRANSFER_FUNCTION_PQ:
    D->Transfer = TColorDescription::tfPQ;
    break;
  case JXL_TRANSFER_FUNCTION_HLG:
    D->Transfer = TColorDescription::tfHLG;
    break;
  case JXL_TRANSFER_FUNCTION_DCI:
    D->Transfer = TColorDescription::tfGamma;
    D->Gamma = 2.6;
    break;
  case JXL_TRANSFER_FUNCTION_GAMMA:
    // The file stores the encoding exponent (0.45455 for a 2.2 curve).
    if (!(E.gamma > 0.0 && E.gamma <= 1.0)) return nullptr;
    D->Transfer = TColorDescription::tfGamma;
    D->Gamma = 1.0 / E.gamma;
    break;
  default:
    return nullptr;
  }
  switch (E.white_point) {
  case JXL_WHITE_POINT_D65:
    break;
  case JXL_WHITE_POINT_E:
    D->WhiteX = D->WhiteY = 1.0 / 3.0;
    break;
  case JXL_WHITE_POINT_DCI:
    D->WhiteX = 0.314;
    D->WhiteY = 0.351;
    break;
  default:
    D->WhiteX = E.white_point_xy[0];
    D->WhiteY = E.white_point_xy[1];
    break;
  }
  if (E.color_space == JXL_COLOR_SPACE_GRAY) return D;
  switch (E.primaries) {
  case JXL_PRIMARIES_SRGB:
    break;
  case JXL_PRIMARIES_2100:
    D->RedX = 0.708, D->RedY = 0.292, D->GreenX = 0.170, D->GreenY = 0.797;
    D->BlueX = 0.131, D->BlueY = 0.046;
    break;
  case JXL_PRIMARIES_P3:
    D->RedX = 0.680, D->RedY = 0.320, D->GreenX = 0.265, D->GreenY = 0.690;
    D->BlueX = 0.150, D->BlueY = 0.060;
    break;
  default:
    D->RedX = E.primaries_red_xy[0], D->RedY = E.primaries_red_xy[1];
    D->GreenX = E.primaries_green_xy[0], D->GreenY = E.primaries_green_xy[1];
    D->BlueX = E.primaries_blue_xy[0], D->BlueY = E.primaries_blue_xy[1];
    break;
  }
  return D;
}

// Picks what the decoder renders an XYB-coded file into (see the header).
void ChooseRendering(JxlDecoder* Decoder, bool Grey) {
  JxlColorEncoding Original{};
  JxlColorEncoding Wanted{};
  if (JxlDecoderGetColorAsEncodedProfile(Decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                         &Original) == JXL_DEC_SUCCESS &&
      (Original.color_space == JXL_COLOR_SPACE_RGB || Original.color_space == JXL_COLOR_SPACE_GRAY) &&
      Original.transfer_function != JXL_TRANSFER_FUNCTION_UNKNOWN) {
    Wanted = Original;
    if (Wanted.transfer_function == JXL_TRANSFER_FUNCTION_LINEAR)
      Wanted.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
  } else {
    JxlColorEncodingSetToSRGB(&Wanted, Grey ? JXL_TRUE : JXL_FALSE);
  }
  // A refusal leaves the decoder's own choice, which the description then
  // reports.
  JxlDecoderSetPreferredColorProfile(Decoder, &Wanted);
}

// The description of the pixels the decoder hands over.
TColorDescriptionPtr PixelDescription(JxlDecoder* Decoder) {
  JxlColorEncoding Encoding{};
  if (JxlDecoderGetColorAsEncodedProfile(Decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                         &Encoding) == JXL_DEC_SUCCESS)
    return DescriptionOf(Encoding);
  size_t Size = 0;
  if (JxlDecoderGetICCProfileSize(Decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &Size) !=
          JXL_DEC_SUCCESS ||
      Size == 0)
    return nullptr;
  auto D = std::make_shared<TColorDescription>();
  D->Icc.resize(Size);
  if (JxlDecoderGetColorAsICCProfile(Decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                     D->Icc.data(), Size) != JXL_DEC_SUCCESS)
    return nullptr;
  return D;
}

// A frame's duration in milliseconds, rounded, from ticks of the animation's
// tick rate (numerator / denominator ticks per second).
int DurationMs(uint32_t Ticks, const JxlAnimationHeader& Animation) {
  if (Animation.tps_numerator == 0) return 0;
  const double Ms =
      std::round(double(Ticks) * 1000.0 * Animation.tps_denominator / Animation.tps_numerator);
  return Ms >= double(INT32_MAX) ? INT32_MAX : int(Ms);
}

} // namespace

void TJxlGraphic::LoadImageFromStream(TStream& Stream, int Index) {
  const TStreamBytes Bytes(Stream);
  const JxlSignature Signature = JxlSignatureCheck(Bytes.Data(), Bytes.Size());
  if (Signature != JXL_SIG_CODESTREAM && Signature != JXL_SIG_CONTAINER)
    throw EJxlError("JPEG XL file is not valid: no JPEG XL signature");

  // The decoder works on as many threads as libjxl suggests for the
  // picture's size, at most one per core (set once the size is known): on
  // two cores a 12-megapixel photo took about 72 % of the time of one
  // thread (heifjxl_bench).
  const std::unique_ptr<void, TRunnerDestroy> Runner(JxlResizableParallelRunnerCreate(nullptr));
  const std::unique_ptr<JxlDecoder, TDecoderDestroy> Owned(JxlDecoderCreate(nullptr));
  JxlDecoder* const Decoder = Owned.get();
  if (!Decoder || !Runner) throw EJxlError("JPEG XL decoder cannot be made: out of memory");
  if (JxlDecoderSubscribeEvents(Decoder, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                             JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE) !=
          JXL_DEC_SUCCESS ||
      JxlDecoderSetKeepOrientation(Decoder, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetUnpremultiplyAlpha(Decoder, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetParallelRunner(Decoder, JxlResizableParallelRunner, Runner.get()) !=
          JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(Decoder, Bytes.Data(), Bytes.Size()) != JXL_DEC_SUCCESS)
    throw EJxlError("JPEG XL decoder cannot be set up");
  // The input stays open: a file that ends early then makes the decoder ask
  // for more, which tells a truncated file from a damaged one.

  // Frame Wanted becomes the image; the frames before it are skipped.
  const int Wanted = Index > 1 ? Index : 1;
  if (Wanted > 1) JxlDecoderSkipFrames(Decoder, size_t(Wanted - 1));

  JxlBasicInfo Info{};
  TMemoryReservation Working;
  TColorDescriptionPtr Description;
  TOutput Output;
  TImageFormat Format = ifTrueColor;
  int Orientation = 1;

  // Frame Wanted and, for an animation shown from its start, the frames after it.
  bool KeepFrames = false;
  std::vector<std::unique_ptr<TDibGraphic>> Later;
  uint64_t LaterPixels = 0;
  const uint64_t LaterPixelLimit = uint64_t(Bytes.Size()) * kFramePixelsPerByte;
  TDibGraphic* Target = nullptr; // the frame being decoded
  int Frame = 0;                 // frames met so far, counted from Wanted
  const auto At = [&] { return Where(Frame == 0 ? 0 : Frame + Wanted - 1); };
  bool HaveImage = false;
  bool Done = false;

  while (!Done) {
    const JxlDecoderStatus Status = JxlDecoderProcessInput(Decoder);
    switch (Status) {
    case JXL_DEC_BASIC_INFO: {
      if (JxlDecoderGetBasicInfo(Decoder, &Info) != JXL_DEC_SUCCESS)
        throw EJxlError("JPEG XL file is not valid or corrupted " + At());
      if (Info.xsize == 0 || Info.ysize == 0 || Info.xsize > INT32_MAX || Info.ysize > INT32_MAX)
        throw EJxlError("JPEG XL file is not valid: picture size " + std::to_string(Info.xsize) +
                        " x " + std::to_string(Info.ysize));
      if (!PixelsAllowed(Info.xsize, Info.ysize))
        throw EJxlError(PixelLimitMessage(Info.xsize, Info.ysize));
      const uint64_t Samples =
          uint64_t(Info.xsize) * Info.ysize * (uint64_t(Info.num_color_channels) + Info.num_extra_channels);
      Working = TMemoryReservation(Samples * kWorkingBytesPerSample *
                                   (Info.have_animation ? kAnimationFactor : 1));
      if (!Working)
        throw EJxlError("JPEG XL picture of " + std::to_string(Info.xsize) + " x " +
                        std::to_string(Info.ysize) + " pixels does not fit in the memory budget");
      const bool Grey = Info.num_color_channels == 1;
      const bool Alpha = Info.alpha_bits != 0;
      Output.Channels = Alpha ? 4 : Grey ? 1 : 3;
      Format = Output.Channels == 1 ? ifGray256 : ifTrueColor;
      Output.Width = int(Info.xsize);
      Output.Height = int(Info.ysize);
      Orientation = int(Info.orientation);
      JxlResizableParallelRunnerSetThreads(
          Runner.get(), std::min<size_t>(JxlResizableParallelRunnerSuggestThreads(Info.xsize, Info.ysize),
                                         std::max(1u, std::thread::hardware_concurrency())));
      KeepFrames = Wanted == 1 && Info.have_animation;
      break;
    }
    case JXL_DEC_COLOR_ENCODING:
      if (!Info.uses_original_profile) ChooseRendering(Decoder, Info.num_color_channels == 1);
      Description = PixelDescription(Decoder);
      break;
    case JXL_DEC_FRAME: {
      ++Frame;
      JxlFrameHeader Header{};
      if (JxlDecoderGetFrameHeader(Decoder, &Header) != JXL_DEC_SUCCESS)
        throw EJxlError("JPEG XL file is not valid or corrupted " + At());
      if (Frame == 1) {
        NewImage(Output.Width, Output.Height, Format, nullptr, 0, 0);
        Target = this;
      } else {
        // A later frame of an animation: kept while the frames stay within
        // what the file's data can justify and within the memory budget;
        // otherwise the first frame is shown alone and decoding stops.
        LaterPixels += uint64_t(Output.Width) * uint64_t(Output.Height);
        std::unique_ptr<TDibGraphic> Next;
        if (LaterPixels <= LaterPixelLimit) {
          Next = std::make_unique<TDibGraphic>();
          try {
            Next->NewImage(Output.Width, Output.Height, Format, nullptr, 0, 0);
          } catch (const EImageError&) {
            Next.reset();
          }
        }
        if (!Next) {
          Later.clear();
          KeepFrames = false;
          SetFramesOmitted(true);
          Done = true;
          break;
        }
        Target = Next.get();
        Later.push_back(std::move(Next));
      }
      if (Info.have_animation) Target->SetFrameDelay(DurationMs(Header.duration, Info.animation));
      break;
    }
    case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
      if (!Target) throw EJxlError("JPEG XL file is not valid or corrupted " + At());
      // Rows padded to 4 bytes, as the image's own rows are.
      const JxlPixelFormat Pixels{uint32_t(Output.Channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                  Output.Channels == 4 ? 0u : 4u};
      size_t Needed = 0;
      if (JxlDecoderImageOutBufferSize(Decoder, &Pixels, &Needed) != JXL_DEC_SUCCESS)
        throw EJxlError("JPEG XL picture cannot be decoded " + At());
      uint8_t* Buffer = Target->Bits();
      size_t Size = size_t(Target->BytesPerRow()) * size_t(Target->Height());
      if (Output.Channels == 4) {
        if (Output.RgbaSize < Needed) {
          Output.Rgba.reset(new (std::nothrow) uint8_t[Needed]);
          Output.RgbaSize = Output.Rgba ? Needed : 0;
          if (!Output.Rgba)
            throw EJxlError("JPEG XL picture of " + std::to_string(Output.Width) + " x " +
                            std::to_string(Output.Height) + " pixels: out of memory");
        }
        Buffer = Output.Rgba.get();
        Size = Output.RgbaSize;
      }
      if (Needed > Size ||
          JxlDecoderSetImageOutBuffer(Decoder, &Pixels, Buffer, Size) != JXL_DEC_SUCCESS)
        throw EJxlError("JPEG XL picture cannot be decoded " + At());
      break;
    }
    case JXL_DEC_FULL_IMAGE:
      if (!Target) throw EJxlError("JPEG XL file is not valid or corrupted " + At());
      if (Output.Channels == 4) {
        for (int Y = 0; Y < Output.Height; ++Y)
          CompositeRgbaRow(Output.Rgba.get() + size_t(Y) * size_t(Output.Width) * 4, Output.Width,
                           BackgroundColor, Target->ScanLine(Y));
      } else {
        TopDownToImage(*Target, Output.Channels);
      }
      Target->SetColorDescription(Description);
      if (OrientationEnabled()) OrientImage(*Target, Orientation);
      Target = nullptr;
      HaveImage = true;
      if (!KeepFrames) Done = true;
      break;
    case JXL_DEC_SUCCESS:
      Done = true;
      break;
    case JXL_DEC_NEED_MORE_INPUT:
      throw EJxlError("JPEG XL file is truncated " + At());
    case JXL_DEC_ERROR:
      throw EJxlError("JPEG XL file is not valid or corrupted " + At());
    default:
      throw EJxlError("JPEG XL decoder stopped unexpectedly " + At());
    }
  }
  if (!HaveImage) {
    ClearImage();
    if (Wanted > 1 && Frame == 0) throw EJxlError("Frame " + std::to_string(Wanted) + " does not exist");
    throw EJxlError("JPEG XL file has no picture");
  }
  if (!Info.have_animation) return;
  SetLoopCount(int(std::min<uint32_t>(Info.animation.num_loops, INT32_MAX)));
  if (!KeepFrames || Later.empty()) return;

  // Frame 1 is the image itself; the frames hold it again so that the
  // animation can come back to it, and the view plays them.
  std::vector<std::unique_ptr<TDibGraphic>> Frames;
  Frames.push_back(std::make_unique<TDibGraphic>());
  try {
    Frames.front()->Assign(this);
  } catch (const EImageError&) {
    SetFramesOmitted(true);
    return;
  }
  for (auto& Next : Later)
    Frames.push_back(std::move(Next));
  SetAnimationFrames(std::move(Frames));
}
