#include "formats/WebPGraphic.h"

#include "formats/ExifReader.h"
#include "imaging/AlphaComposite.h"
#include "imaging/Orientation.h"
#include "platform/MemoryBudget.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Frames of 10 ms or less are shown for 100 ms: the WebP container leaves
// such durations to the viewer, and browsers treat them as GIF's.
constexpr int kShortDelayMs = 100;

std::string StatusMessage(VP8StatusCode Status) {
  switch (Status) {
  case VP8_STATUS_OUT_OF_MEMORY:
    return "WebP: out of memory";
  case VP8_STATUS_INVALID_PARAM:
    return "WebP: invalid parameter";
  case VP8_STATUS_BITSTREAM_ERROR:
    return "WebP: not a WebP file, or its data are damaged";
  case VP8_STATUS_UNSUPPORTED_FEATURE:
    return "WebP: unsupported feature";
  case VP8_STATUS_NOT_ENOUGH_DATA:
    return "WebP: the file ends before its data (truncated)";
  default:
    return "WebP: decoding failed (status " + std::to_string(int(Status)) + ")";
  }
}

struct TDemuxDeleter {
  void operator()(WebPDemuxer* D) const { WebPDemuxDelete(D); }
};
using TDemux = std::unique_ptr<WebPDemuxer, TDemuxDeleter>;

struct TAnimDecoderDeleter {
  void operator()(WebPAnimDecoder* D) const { WebPAnimDecoderDelete(D); }
};
using TAnimDecoder = std::unique_ptr<WebPAnimDecoder, TAnimDecoderDeleter>;

// The payload of the first chunk with the four-character name, or empty.
std::vector<uint8_t> ChunkBytes(WebPDemuxer* Demux, const char* Name) {
  std::vector<uint8_t> Bytes;
  WebPChunkIterator It;
  if (WebPDemuxGetChunk(Demux, Name, 1, &It)) {
    Bytes.assign(It.chunk.bytes, It.chunk.bytes + It.chunk.size);
    WebPDemuxReleaseChunkIterator(&It);
  }
  return Bytes;
}

// The EXIF chunk holds TIFF-structured data; some writers put JPEG's
// "Exif\0\0" in front of it.
int ChunkOrientation(const std::vector<uint8_t>& Exif) {
  if (Exif.empty()) return 0;
  if (const int O = TiffDataOrientation(Exif.data(), Exif.size())) return O;
  return ExifOrientation(Exif.data(), Exif.size());
}

// Memory libwebp takes for its own work, held from the budget while it
// decodes: raised as the pixel buffers' failure when it cannot be had.
TMemoryReservation Reserve(uint64_t Bytes) {
  TMemoryReservation R(Bytes);
  if (Bytes > 0 && !R)
    throw EImageError("WebP: the decoder's " + std::to_string(Bytes >> 20) +
                      " MB do not fit in the memory budget");
  return R;
}

// Top-down straight-alpha BGRA rows into the picture, blended onto Background.
void PutRows(TDibGraphic& G, const uint8_t* Bgra, size_t Stride, uint32_t Background) {
  for (int Y = 0; Y < G.Height(); ++Y)
    CompositeBgraRow(Bgra + Stride * size_t(Y), G.Width(), Background, G.ScanLine(Y));
}

// A file whose data cannot fill a meaningful part of its W x H picture is
// refused before any pixel memory is taken. What data can fill: a frame
// only its own rectangle (the rest of an animation's canvas is background),
// and a lossy (VP8) bitstream at best about 1,000 macroblocks a byte (its
// boolean coder spends at least 1/177 bit on each of a macroblock's luma
// and chroma modes). Lossless (VP8L) data have no such bound, a prefix code
// of one symbol costing no bits: they are held to the pixel limit and the
// memory budget alone.
void RefuseShortData(WebPDemuxer* Demux, size_t FileBytes, int W, int H) {
  const uint64_t Canvas = uint64_t(W) * uint64_t(H), PictureBytes = Canvas * 3;
  uint64_t Covered = 0, Least = 0;
  WebPIterator It;
  if (WebPDemuxGetFrame(Demux, 1, &It)) {
    int Frames = 0;
    do {
      Covered += uint64_t(It.width) * uint64_t(It.height);
      WebPBitstreamFeatures F;
      if (WebPGetFeatures(It.fragment.bytes, It.fragment.size, &F) == VP8_STATUS_OK &&
          F.format == 1)
        Least += ((uint64_t(It.width) + 15) / 16) * ((uint64_t(It.height) + 15) / 16) / 1024;
    } while (++Frames < MaxAnimationFrames && WebPDemuxNextFrame(&It));
    WebPDemuxReleaseIterator(&It);
  }
  // The frames' rectangles against the canvas, as pixels for bytes.
  if (!DataCanFill(std::min(Covered, Canvas), Canvas, PictureBytes) ||
      !DataCanFill(FileBytes, Least, PictureBytes))
    throw EWebPError(ShortDataMessage("WebP", FileBytes, W, H));
}

} // namespace

void TWebPGraphic::LoadImageFromStream(TStream& Stream, int Index) {
  const TStreamBytes Bytes(Stream);
  const WebPData Data{Bytes.Data(), Bytes.Size()};

  if (Data.size == 0) throw EWebPError(StatusMessage(VP8_STATUS_NOT_ENOUGH_DATA));
  // The size first: nothing is allocated for a picture above the limit.
  WebPBitstreamFeatures Features;
  const VP8StatusCode Status = WebPGetFeatures(Data.bytes, Data.size, &Features);
  if (Status != VP8_STATUS_OK) throw EWebPError(StatusMessage(Status));
  const int W = Features.width, H = Features.height;
  if (!PixelsAllowed(W, H)) throw EWebPError(PixelLimitMessage(W, H));
  if (W <= 0 || H <= 0) throw EWebPError("WebP: the picture has no pixels");

  // The whole container, complete: a file cut short is refused (libwebp's
  // animation decoder needs every chunk, and a still's data would end early).
  WebPDemuxState State = WEBP_DEMUX_PARSE_ERROR;
  const TDemux Demux(WebPDemuxPartial(&Data, &State));
  if (!Demux || State != WEBP_DEMUX_DONE)
    throw EWebPError(State == WEBP_DEMUX_PARSE_ERROR
                         ? std::string("WebP: the file's chunks are damaged")
                         : StatusMessage(VP8_STATUS_NOT_ENOUGH_DATA));
  RefuseShortData(Demux.get(), Data.size, W, H);
  const uint32_t Flags = WebPDemuxGetI(Demux.get(), WEBP_FF_FORMAT_FLAGS);
  TColorDescriptionPtr Colour;
  if (Flags & ICCP_FLAG) {
    auto Description = std::make_shared<TColorDescription>();
    Description->Icc = ChunkBytes(Demux.get(), "ICCP");
    if (!Description->Icc.empty()) Colour = std::move(Description);
  }
  const int Orientation =
      (Flags & EXIF_FLAG) && OrientationEnabled() ? ChunkOrientation(ChunkBytes(Demux.get(), "EXIF"))
                                                  : 0;
  // Upright and described: the picture and every frame.
  auto Finish = [&](TDibGraphic& G) {
    if (Orientation > 1) OrientImage(G, Orientation);
    G.SetColorDescription(Colour);
  };

  if (!Features.has_animation) {
    if (Index > 1)
      throw EWebPError("WebP: frame " + std::to_string(Index) +
                       " does not exist (the file holds 1 frame)");
    NewImage(W, H, ifTrueColor, nullptr, 0, 0);
    WebPDecoderConfig Config;
    if (!WebPInitDecoderConfig(&Config)) throw EWebPError("WebP: library version mismatch");
    // Lossless data are decoded through a whole picture of 32-bit pixels.
    const uint64_t Pixels = uint64_t(W) * uint64_t(H);
    const TMemoryReservation Work = Reserve(Features.format == 2 ? 4 * Pixels : 0);
    Config.output.is_external_memory = 1;
    VP8StatusCode Decoded;
    if (!Features.has_alpha) {
      // Straight into the picture's rows: blue-green-red, bottom row first.
      Config.output.colorspace = MODE_BGR;
      Config.output.u.RGBA.rgba = Bits();
      Config.output.u.RGBA.stride = BytesPerRow();
      Config.output.u.RGBA.size = size_t(BytesPerRow()) * size_t(H);
      Config.options.flip = 1;
      Decoded = WebPDecode(Data.bytes, Data.size, &Config);
    } else {
      // Through straight-alpha rows, blended onto the background.
      const size_t Stride = 4 * size_t(W);
      const TMemoryReservation Rows = Reserve(Stride * size_t(H));
      const std::unique_ptr<uint8_t[]> Bgra(new uint8_t[Stride * size_t(H)]);
      Config.output.colorspace = MODE_BGRA;
      Config.output.u.RGBA.rgba = Bgra.get();
      Config.output.u.RGBA.stride = int(Stride);
      Config.output.u.RGBA.size = Stride * size_t(H);
      Decoded = WebPDecode(Data.bytes, Data.size, &Config);
      if (Decoded == VP8_STATUS_OK) PutRows(*this, Bgra.get(), Stride, BackgroundColor);
    }
    WebPFreeDecBuffer(&Config.output);
    if (Decoded != VP8_STATUS_OK) throw EWebPError(StatusMessage(Decoded));
    Finish(*this);
    return;
  }

  // An animation: libwebp's decoder blends each frame onto its canvas and
  // disposes of it as the file says; each canvas becomes a frame.
  const int InFile = int(std::min<uint32_t>(WebPDemuxGetI(Demux.get(), WEBP_FF_FRAME_COUNT),
                                            uint32_t(MaxAnimationFrames)));
  if (InFile < 1) throw EWebPError("WebP: the animation holds no frame");
  if (Index > InFile)
    throw EWebPError("WebP: frame " + std::to_string(Index) + " does not exist (the file holds " +
                     std::to_string(InFile) + (InFile == 1 ? " frame)" : " frames)"));
  bool KeepAll = Index <= 1 && InFile > 1;
  if (KeepAll && !AnimationFramesFit(W, H, InFile, Data.size)) {
    KeepAll = false;
    SetFramesOmitted(true);
  }
  const int Last = KeepAll ? InFile : std::max(Index, 1);

  // The decoder keeps two canvases of 32-bit pixels.
  const TMemoryReservation Work = Reserve(8 * uint64_t(W) * uint64_t(H));
  WebPAnimDecoderOptions Options;
  if (!WebPAnimDecoderOptionsInit(&Options)) throw EWebPError("WebP: library version mismatch");
  Options.color_mode = MODE_BGRA;
  Options.use_threads = 0;
  const TAnimDecoder Decoder(WebPAnimDecoderNew(&Data, &Options));
  if (!Decoder) throw EWebPError("WebP: the animation's frames are damaged");

  std::vector<std::unique_ptr<TDibGraphic>> Done;
  int Before = 0; // the previous frame's end, in ms
  for (int K = 1; K <= Last; ++K) {
    uint8_t* Canvas = nullptr;
    int Timestamp = 0;
    if (!WebPAnimDecoderGetNext(Decoder.get(), &Canvas, &Timestamp) || !Canvas) {
      // Damage in the first frame, or in the one asked for, refuses the
      // file; later in an animation, the frames before it play.
      if (K == 1 || !KeepAll) throw EWebPError("WebP: frame " + std::to_string(K) + " is damaged");
      break;
    }
    const int Duration = Timestamp - Before;
    Before = Timestamp;
    if (!KeepAll && K < Last) continue; // only the frame asked for becomes the picture
    TDibGraphic* Target = this;
    std::unique_ptr<TDibGraphic> Own;
    if (KeepAll) {
      Own = std::make_unique<TDibGraphic>();
      Target = Own.get();
    }
    try {
      Target->NewImage(W, H, ifTrueColor, nullptr, 0, 0);
    } catch (const EImageError&) {
      // Frames past the first that do not fit: the first one shows, still.
      if (!KeepAll || Done.empty()) throw;
      Done.resize(1);
      SetFramesOmitted(true);
      break;
    }
    PutRows(*Target, Canvas, 4 * size_t(W), BackgroundColor);
    Target->SetFrameDelay(Duration <= 10 ? kShortDelayMs : Duration);
    if (Own) Done.push_back(std::move(Own));
  }

  // ANIM's loop count is how often the animation plays; 0 for ever.
  SetLoopCount(int(WebPDemuxGetI(Demux.get(), WEBP_FF_LOOP_COUNT)));
  if (!KeepAll) {
    Finish(*this);
    return;
  }
  for (auto& Frame : Done)
    Finish(*Frame);
  if (Done.size() > 1) {
    SetAnimationFrames(std::move(Done));
  } else {
    Assign(Done.front().get()); // one frame decoded (or fitted): a still
  }
}
