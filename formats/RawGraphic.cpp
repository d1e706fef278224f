#include "formats/RawGraphic.h"

#include "formats/ExifReader.h"
#include "formats/JpegGraphic.h"
#include "imaging/Orientation.h"
#include "platform/ByteReader.h"
#include "platform/Memory.h"
#include "platform/MemoryBudget.h"

#include <libraw/libraw.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& Text) {
  throw ERawError("Camera RAW: " + Text);
}

// Compressed sensor data needs at least this many bytes per 256 samples: a
// lossless codec spends a bit or more on each, a lossy DNG of a flat frame
// about one bit on twenty. A file claiming more samples than its bytes can
// carry is refused before libraw takes memory and time for them.
constexpr uint64_t kSamplesPerDataByte = 256;

// libraw develops with OpenMP. Its thread team costs more than it gains on
// small pictures (tens of milliseconds on a busy machine for a picture that
// takes a few alone), so those are developed on the calling thread only;
// large ones use a thread per processor. The count is a setting of the
// calling thread in the OpenMP runtime libraw was built with, looked up among
// the runtimes already loaded (none when libraw uses no OpenMP).
constexpr uint64_t kThreadedDevelopPixels = 2000000;

void SetDevelopThreads(bool Threaded) {
  using TSetThreads = void (*)(int);
  using TProcs = int (*)();
  struct TRuntime {
    TSetThreads Set = nullptr;
    TProcs Procs = nullptr;
  };
  static const std::vector<TRuntime> Runtimes = [] {
    std::vector<TRuntime> Found;
    for (const char* Name : {"libgomp.so.1", "libomp.so.5", "libomp.so"}) {
      void* Library = ::dlopen(Name, RTLD_NOW | RTLD_NOLOAD);
      if (!Library) continue;
      TRuntime R;
      R.Set = reinterpret_cast<TSetThreads>(::dlsym(Library, "omp_set_num_threads"));
      R.Procs = reinterpret_cast<TProcs>(::dlsym(Library, "omp_get_num_procs"));
      if (R.Set && R.Procs) Found.push_back(R);
    }
    return Found;
  }();
  for (const TRuntime& R : Runtimes)
    R.Set(Threaded ? std::max(1, R.Procs()) : 1);
}

// libraw, with a look at how it would read the preview. libraw 0.20 reads
// previews it takes for layered bitmaps (what a preview directory without a
// compression it knows becomes) three times over into the buffer it made for
// one: the heap is corrupted (found by fuzzing). Only JPEG previews and plain
// 8- and 16-bit bitmaps are read.
class TLibRaw : public LibRaw {
public:
  TLibRaw() : LibRaw(LIBRAW_OPTIONS_NONE) {}
  bool PreviewReadable() const {
    return write_thumb == &TLibRaw::jpeg_thumb || write_thumb == &TLibRaw::ppm_thumb ||
           write_thumb == &TLibRaw::ppm16_thumb;
  }
};

// One libraw object for one load. The object is large (its work areas are
// members), so it lives on the heap; libraw's messages on the standard error
// are replaced by counting what it reports.
struct TRawSession {
  std::unique_ptr<TLibRaw> Raw;
  int DataErrors = 0;

  // Directories (as libraw numbers them in the tag it reports) whose
  // CFARepeatPatternDim is 6 x 6.
  std::vector<int> SixBySix;
  // Why the open was stopped from OnTag, or "".
  std::string Stopped;

  TRawSession() {
    try {
      Raw = std::make_unique<TLibRaw>();
    } catch (const std::bad_alloc&) {
      Fail("out of memory");
    }
    Raw->set_dataerror_handler(&OnDataError, this);
    Raw->set_memerror_handler(&OnMemoryError, this);
    Raw->set_exifparser_handler(&OnTag, this);
  }
  // libraw 0.20 reports every tag of a TIFF directory here before it reads
  // it (EXIF tags come as directory 0). A CFAPattern of 36 entries (an
  // X-Trans mosaic) without a 6 x 6 CFARepeatPatternDim before it in the same
  // directory crashes it: it reads the pattern past the end of its own array
  // (found by fuzzing; 264 bytes are enough). Such a file is stopped with
  // libraw's own exception for corrupt data, which ends the open cleanly.
  static void OnTag(void* Self, int Tag, int /*Type*/, int Count, unsigned Order, void* Stream,
                    INT64 /*Base*/) {
    auto& Session = *static_cast<TRawSession*>(Self);
    const int Number = Tag & 0xFFFF;
    const int Directory = Tag >> 16;
    if (Directory == 0 || Count < 1) return;
    if (Number == 33421 && Count == 2) {
      // The two values, where libraw is about to read them.
      auto* In = static_cast<LibRaw_abstract_datastream*>(Stream);
      const INT64 At = In->tell();
      uint8_t B[4] = {};
      const bool Read = In->read(B, 1, 4) == 4;
      In->seek(At, SEEK_SET);
      const TByteOrder ByteOrder =
          Order == 0x4D4D ? TByteOrder::BigEndian : TByteOrder::LittleEndian;
      TByteReader Values(B, sizeof B);
      const int Rows = Values.U16(ByteOrder);
      const int Columns = Values.U16(ByteOrder);
      if (Read && Rows == 6 && Columns == 6) Session.SixBySix.push_back(Directory);
    } else if (Number == 33422 && Count == 36 &&
               std::find(Session.SixBySix.begin(), Session.SixBySix.end(), Directory) ==
                   Session.SixBySix.end()) {
      Session.Stopped = "a colour filter pattern of 36 entries without its 6 x 6 repeat";
      throw LIBRAW_EXCEPTION_IO_CORRUPT;
    }
  }
  static void OnDataError(void* Self, const char*, const int) {
    ++static_cast<TRawSession*>(Self)->DataErrors;
  }
  // A failed allocation also fails the call that made it; nothing to add.
  static void OnMemoryError(void*, const char*, const char*) {}
};

// What a JPEG preview says about itself before it is decoded: its size from
// the frame header and the orientation of its own EXIF segment (0 when it has
// none). Every read stays inside the bytes; damage leaves fields 0.
struct TJpegFacts {
  int Width = 0;
  int Height = 0;
  int Orientation = 0;
};

TJpegFacts ScanJpeg(const uint8_t* Data, size_t Size) {
  TJpegFacts Facts;
  TByteReader In(Data, Size);
  if (In.Be16() != 0xFFD8) return Facts; // start of image
  while (!In.Failed()) {
    if (In.U8() != 0xFF) return Facts;
    uint8_t Marker = In.U8();
    while (Marker == 0xFF && !In.Failed()) // fill bytes
      Marker = In.U8();
    if (In.Failed() || Marker == 0xD9 || Marker == 0xDA) return Facts; // end of image, start of scan
    if (Marker == 0x01 || (Marker >= 0xD0 && Marker <= 0xD7)) continue; // no length
    const uint16_t Length = In.Be16();
    if (Length < 2) return Facts;
    const size_t PayloadSize = Length - 2u;
    const uint8_t* Payload = In.Bytes(PayloadSize);
    if (!Payload) return Facts;
    const bool FrameHeader = Marker >= 0xC0 && Marker <= 0xCF && Marker != 0xC4 &&
                             Marker != 0xC8 && Marker != 0xCC;
    if (FrameHeader && PayloadSize >= 5) {
      // Precision, then height and width, big-endian.
      TByteReader Frame(Payload, PayloadSize);
      Frame.Skip(1);
      Facts.Height = Frame.Be16();
      Facts.Width = Frame.Be16();
    } else if (Marker == 0xE1 && Facts.Orientation == 0) {
      Facts.Orientation = ExifOrientation(Payload, PayloadSize);
    }
  }
  return Facts;
}

// Whether a preview shown W x H (upright) is large enough to stand for the
// picture: fitting it to the screen needs no enlarging in the direction that
// decides the fit, or it is as large as the sensor's own picture (SensorW x
// SensorH, upright).
bool PreviewLargeEnough(int W, int H, int SensorW, int SensorH) {
  int ScreenW = 0, ScreenH = 0;
  ScreenPixelSize(ScreenW, ScreenH);
  if (W <= 0 || H <= 0) return false;
  return W >= ScreenW || H >= ScreenH || (W >= SensorW && H >= SensorH);
}

// The Adobe RGB (1998) colour space, which cameras set to it use for their
// previews: sRGB's white point, wider green and red primaries, gamma 563/256.
TColorDescriptionPtr AdobeRgb() {
  auto D = std::make_shared<TColorDescription>();
  D->RedX = 0.64;
  D->RedY = 0.33;
  D->GreenX = 0.21;
  D->GreenY = 0.71;
  D->BlueX = 0.15;
  D->BlueY = 0.06;
  D->Transfer = TColorDescription::tfGamma;
  D->Gamma = 563.0 / 256.0;
  return D;
}

bool PreviewInAdobeRgb(const LibRaw& Raw) {
  return Raw.imgdata.color.ExifColorSpace == LIBRAW_COLORSPACE_AdobeRGB ||
         Raw.imgdata.makernotes.common.ColorSpace == LIBRAW_COLORSPACE_AdobeRGB;
}

} // namespace

int RawFlipToOrientation(int Flip) {
  // libraw keeps dcraw's flip bits: 1 mirrors left-right, 2 top-bottom, 4
  // transposes.
  static constexpr int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  return Flip >= 0 && Flip < 8 ? kOrientation[Flip] : 1;
}

namespace {

// The preview of an open RAW file into Graphic when it is large enough;
// false when there is none, it is too small, or it cannot be decoded (the
// sensor's picture is developed then). Orientation is the RAW file's;
// SensorW x SensorH the sensor picture's stored size.
bool LoadPreview(TDibGraphic& Graphic, TRawSession& Session, size_t FileSize, int Orientation,
                 int SensorW, int SensorH) {
  LibRaw& Raw = *Session.Raw;
  const libraw_thumbnail_t& Thumb = Raw.imgdata.thumbnail;
  // The preview's bytes must lie inside the file before libraw reads them.
  const INT64 Offset = Raw.get_internal_data_pointer()->internal_data.toffset;
  if (Thumb.tlength == 0 || Offset <= 0 || uint64_t(Offset) >= FileSize ||
      Thumb.tlength > FileSize - uint64_t(Offset) || !Session.Raw->PreviewReadable())
    return false;
  if (Raw.unpack_thumb() != LIBRAW_SUCCESS || !Thumb.thumb) return false;

  const bool Turns = Orientation >= 5;
  const int UprightSensorW = Turns ? SensorH : SensorW;
  const int UprightSensorH = Turns ? SensorW : SensorH;
  int W = Thumb.twidth, H = Thumb.theight;
  int OwnOrientation = 0;
  if (Thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
    const TJpegFacts Facts = ScanJpeg(reinterpret_cast<const uint8_t*>(Thumb.thumb), Thumb.tlength);
    if (Facts.Width > 0 && Facts.Height > 0) {
      W = Facts.Width;
      H = Facts.Height;
    }
    OwnOrientation = Facts.Orientation;
  } else if (Thumb.tformat != LIBRAW_THUMBNAIL_BITMAP &&
             Thumb.tformat != LIBRAW_THUMBNAIL_BITMAP16) {
    return false;
  }
  // A preview with its own orientation is turned by the JPEG reader; one whose
  // shape is already the upright picture's was turned by the camera; any
  // other is stored as the sensor's and takes the RAW file's orientation.
  const bool AlreadyUpright =
      Turns && W != H && SensorW != SensorH && (W > H) != (SensorW > SensorH);
  const int Turn = OwnOrientation == 0 && !AlreadyUpright ? Orientation : 1;
  const int Shown = OwnOrientation != 0 ? OwnOrientation : Turn;
  const bool ShownTurned = OrientationEnabled() && Shown >= 5;
  if (!PreviewLargeEnough(ShownTurned ? H : W, ShownTurned ? W : H, UprightSensorW,
                          UprightSensorH))
    return false;

  int WholeW = 0, WholeH = 0; // of a reduced JPEG preview, upright
  if (Thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
    TJpegGraphic Jpeg;
    TBytesStream Bytes(Thumb.thumb, Thumb.tlength);
    try {
      Jpeg.LoadImageFromStream(Bytes, 1);
    } catch (const Exception&) {
      return false; // a damaged preview: the sensor's picture instead
    }
    // Decoding ahead may have had the preview decoded reduced: the picture
    // keeps the size of the whole preview it stands for.
    if (Jpeg.Reduced()) {
      WholeW = Jpeg.WholeWidth();
      WholeH = Jpeg.WholeHeight();
    }
    Graphic.TakeImage(Jpeg);
  } else {
    // Bitmap previews: rows of 8- or 16-bit samples, grey or RGB, top first.
    const int Colors = Thumb.tcolors;
    const size_t SampleBytes = Thumb.tformat == LIBRAW_THUMBNAIL_BITMAP16 ? 2 : 1;
    if ((Colors != 1 && Colors != 3) || W <= 0 || H <= 0 || !PixelsAllowed(W, H) ||
        uint64_t(W) * uint64_t(H) * uint64_t(Colors) * SampleBytes > Thumb.tlength)
      return false;
    Graphic.NewImage(W, H, Colors == 3 ? ifTrueColor : ifGray256, nullptr, 0, 0);
    const uint8_t* Src = reinterpret_cast<const uint8_t*>(Thumb.thumb);
    const size_t RowBytes = size_t(W) * size_t(Colors) * SampleBytes;
    for (int y = 0; y < H; ++y) {
      const uint8_t* S = Src + size_t(y) * RowBytes;
      uint8_t* D = Graphic.ScanLine(y);
      for (int x = 0; x < W; ++x) {
        for (int c = 0; c < Colors; ++c) {
          uint8_t V;
          if (SampleBytes == 2) {
            uint16_t Sample;
            std::memcpy(&Sample, S + (size_t(x) * Colors + c) * 2, 2);
            V = uint8_t(Sample >> 8);
          } else {
            V = S[size_t(x) * Colors + c];
          }
          // RGB samples into the image's blue-green-red order.
          D[size_t(x) * Colors + (Colors == 3 ? 2 - c : 0)] = V;
        }
      }
    }
  }
  if (!Graphic.ColorDescription() && PreviewInAdobeRgb(Raw)) Graphic.SetColorDescription(AdobeRgb());
  if (OrientationEnabled()) OrientImage(Graphic, Turn);
  if (WholeW > 0) {
    const bool Turned = OrientationEnabled() && Turn >= 5;
    Graphic.SetWholeSize(Turned ? WholeH : WholeW, Turned ? WholeW : WholeH);
  }
  return true;
}

// Develops the sensor's picture of an open RAW file into Graphic.
void Develop(TDibGraphic& Graphic, TRawSession& Session, size_t FileSize, int Orientation) {
  LibRaw& Raw = *Session.Raw;
  const libraw_image_sizes_t& S = Raw.imgdata.sizes;
  const libraw_internal_data_t& Internal = *Raw.get_internal_data_pointer();

  // The file must hold enough bytes for the sensor data it claims.
  const uint64_t Samples = uint64_t(S.raw_width) * uint64_t(S.raw_height) *
                           std::max(1u, Internal.unpacker_data.tiff_samples);
  const INT64 DataOffset = Internal.unpacker_data.data_offset;
  const uint64_t DataBytes =
      DataOffset <= 0 ? FileSize
                      : (uint64_t(DataOffset) < FileSize ? FileSize - uint64_t(DataOffset) : 0);
  if (DataBytes < Samples / kSamplesPerDataByte)
    Fail("the file holds " + std::to_string(DataBytes) + " bytes of sensor data, too few for its " +
         std::to_string(S.raw_width) + " x " + std::to_string(S.raw_height) + " sensor picture");

  // Half size when that still fills the screen: a quarter of the work and of
  // libraw's memory.
  const bool Turns = Orientation >= 5;
  int ScreenW = 0, ScreenH = 0;
  ScreenPixelSize(ScreenW, ScreenH);
  const int HalfW = (Turns ? S.height : S.width) / 2;
  const int HalfH = (Turns ? S.width : S.height) / 2;
  const bool Half = HalfW >= ScreenW || HalfH >= ScreenH;

  libraw_output_params_t& P = Raw.imgdata.params;
  P.half_size = Half ? 1 : 0;
  P.use_camera_wb = 1;
  P.output_color = 1; // sRGB
  P.output_bps = 8;
  P.user_flip = 0; // turned below, by the rule every format follows

  // libraw's working memory: the sensor data (one 16-bit sample per photo
  // site, or four for pictures that are not a colour mosaic) and the picture
  // it develops (four 16-bit channels per pixel), held from the budget.
  const uint64_t RawBytes = uint64_t(S.raw_width) * uint64_t(S.raw_height) *
                            (Raw.imgdata.idata.filters ? 2 : 8);
  const uint64_t ImageBytes =
      uint64_t(Half ? (S.width + 1) / 2 : S.width) * uint64_t(Half ? (S.height + 1) / 2 : S.height) * 8;
  // libraw's own bound on the sensor data it takes: what the budget has left,
  // at most libraw's default.
  P.max_raw_memory_mb = unsigned(std::clamp<uint64_t>(TMemoryBudget::Available() >> 20, 1,
                                                      uint64_t(LIBRAW_MAX_ALLOC_MB_DEFAULT)));
  TMemoryReservation Working(RawBytes + ImageBytes);
  if (!Working || !MemoryCanBeHad(RawBytes + ImageBytes))
    Fail("not enough memory to develop a " + std::to_string(S.width) + " x " +
         std::to_string(S.height) + " picture");

  SetDevelopThreads(uint64_t(S.width) * uint64_t(S.height) >= kThreadedDevelopPixels);
  int Code = Raw.unpack();
  if (Code != LIBRAW_SUCCESS) Fail(libraw_strerror(Code));
  if (Session.DataErrors > 0) Fail("the sensor data is damaged or cut short");
  Code = Raw.dcraw_process();
  if (Code != LIBRAW_SUCCESS) Fail(libraw_strerror(Code));
  if (Session.DataErrors > 0) Fail("the sensor data is damaged or cut short");

  int W = 0, H = 0, Colors = 0, Bits = 0;
  Raw.get_mem_image_format(&W, &H, &Colors, &Bits);
  if (W <= 0 || H <= 0 || Bits != 8 || (Colors != 1 && Colors != 3))
    Fail("libraw developed an unexpected picture (" + std::to_string(W) + " x " +
         std::to_string(H) + ", " + std::to_string(Colors) + " x " + std::to_string(Bits) +
         " bits)");
  if (!PixelsAllowed(W, H)) throw ERawError(PixelLimitMessage(W, H));
  Graphic.NewImage(W, H, Colors == 3 ? ifTrueColor : ifGray256, nullptr, 0, 0);
  // Rows top first, blue-green-red: the image's top row is its last in
  // memory, so the copy walks the rows backwards.
  Code = Raw.copy_mem_image(Graphic.ScanLine(0), -Graphic.BytesPerRow(), 1);
  if (Code != LIBRAW_SUCCESS) Fail(libraw_strerror(Code));
  if (OrientationEnabled()) OrientImage(Graphic, Orientation);
}

} // namespace

void TRawGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  FSource = rsNone;
  const TStreamBytes Bytes(Stream);
  if (Bytes.Size() == 0) Fail("the file is empty");
  TRawSession Session;
  LibRaw& Raw = *Session.Raw;
  // libraw reads the buffer only; its interface is not const.
  const int Code = Raw.open_buffer(const_cast<uint8_t*>(Bytes.Data()), Bytes.Size());
  if (!Session.Stopped.empty()) Fail(Session.Stopped);
  if (Code != LIBRAW_SUCCESS) Fail(libraw_strerror(Code));

  const libraw_image_sizes_t& S = Raw.imgdata.sizes;
  // Above the pixel limit: refused before libraw takes any memory for it.
  if (!PixelsAllowed(S.width, S.height)) throw ERawError(PixelLimitMessage(S.width, S.height));
  if (!PixelsAllowed(S.raw_width, S.raw_height))
    throw ERawError(PixelLimitMessage(S.raw_width, S.raw_height));
  if (S.width == 0 || S.height == 0) Fail("the file holds no picture");
  const int Orientation = RawFlipToOrientation(S.flip);

  if (LoadPreview(*this, Session, Bytes.Size(), Orientation, S.width, S.height)) {
    FSource = rsPreview;
    return;
  }
  Develop(*this, Session, Bytes.Size(), Orientation);
  FSource = rsDeveloped;
}
