#include "formats/JpegGraphic.h"

#include "formats/ExifReader.h"
#include "platform/Memory.h"
#include "platform/MemoryBudget.h"
#include "imaging/Orientation.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <exception>
#include <limits>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

namespace {

// Bytes per read from, or write to, a stream that is not in memory.
constexpr size_t kBlockSize = 4096;

// libjpeg's standard error manager with its fatal-error and message handlers
// replaced. A fatal error keeps libjpeg's own message text and leaves the
// library through the recovery point; the caller then destroys the libjpeg
// object and raises the exception, so no C++ exception crosses libjpeg's C
// frames. Warnings (corrupt data) are only counted.
struct TJpegErrorManager {
  jpeg_error_mgr Pub;
  std::jmp_buf Recovery;
  char Message[JMSG_LENGTH_MAX];
  // An exception the stream raised inside a data source or destination
  // callback; raised again once libjpeg has been left.
  std::exception_ptr StreamFailure;
};

TJpegErrorManager& ErrorManagerOf(j_common_ptr Info) {
  return *reinterpret_cast<TJpegErrorManager*>(Info->err);
}

[[noreturn]] void LeaveLibrary(j_common_ptr Info) {
  std::longjmp(ErrorManagerOf(Info).Recovery, 1);
}

void ErrorExit(j_common_ptr Info) {
  (*Info->err->format_message)(Info, ErrorManagerOf(Info).Message);
  LeaveLibrary(Info);
}

// Any message libjpeg asks to output is treated as the fatal error.
void OutputMessage(j_common_ptr Info) {
  ErrorExit(Info);
}

// Warnings (level below 0) are counted; trace messages are never shown.
void EmitMessage(j_common_ptr Info, int Level) {
  if (Level < 0) ++Info->err->num_warnings;
}

void InstallErrorManager(TJpegErrorManager& Err) {
  jpeg_std_error(&Err.Pub);
  Err.Pub.error_exit = ErrorExit;
  Err.Pub.emit_message = EmitMessage;
  Err.Pub.output_message = OutputMessage;
  Err.Pub.trace_level = 0;
  Err.Message[0] = '\0';
}

// Runs Step, which calls into libjpeg, under a fresh recovery point. Answers
// false when libjpeg left through the error manager. Step must own no object
// with a destructor: a fatal error jumps over its frame.
template <class TStep> bool Guarded(TJpegErrorManager& Err, TStep&& Step) {
  if (setjmp(Err.Recovery) != 0) return false;
  Step();
  return true;
}

[[noreturn]] void RaiseLibraryError(TJpegErrorManager& Err) {
  if (Err.StreamFailure) std::rethrow_exception(Err.StreamFailure);
  throw Exception(Err.Message);
}

// Calls a stream operation from inside a libjpeg callback; an exception is
// kept and libjpeg is left through the recovery point once the handler has
// finished.
template <class TCall> int64_t CallStream(j_common_ptr Info, TCall&& Call) {
  int64_t Result = 0;
  bool Failed = false;
  try {
    Result = Call();
  } catch (...) {
    ErrorManagerOf(Info).StreamFailure = std::current_exception();
    Failed = true;
  }
  if (Failed) LeaveLibrary(Info);
  return Result;
}

// ---- Data source ----------------------------------------------------------

// Reads the JPEG data from the stream's current position. A stream whose
// bytes are in memory is handed to libjpeg whole, without a copy; any other
// stream is read in blocks of kBlockSize bytes. libjpeg's end-of-data rules
// apply either way: no data at all is fatal, data ending early is a warning
// followed by a fake end-of-image marker.
struct TJpegSource {
  jpeg_source_mgr Pub;
  TStream* Stream;
  const uint8_t* Memory; // the data in memory, or null
  int64_t Start;         // stream position of the first JPEG byte
  int64_t Length;        // bytes from Start to the end of the stream (memory)
  bool StartOfFile;
  JOCTET Buffer[kBlockSize];
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

TJpegSource& SourceOf(j_decompress_ptr Info) {
  return *reinterpret_cast<TJpegSource*>(Info->src);
}

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr Info) {
  TJpegSource& Src = SourceOf(Info);
  int64_t Got = 0;
  if (Src.Memory == nullptr) {
    Got = CallStream(reinterpret_cast<j_common_ptr>(Info),
                     [&] { return Src.Stream->Read(Src.Buffer, kBlockSize); });
  }
  if (Got <= 0) {
    if (Src.StartOfFile) ERREXIT(Info, JERR_INPUT_EMPTY);
    WARNMS(Info, JWRN_JPEG_EOF);
    Src.Pub.next_input_byte = kFakeEoi;
    Src.Pub.bytes_in_buffer = sizeof(kFakeEoi);
  } else {
    Src.Pub.next_input_byte = Src.Buffer;
    Src.Pub.bytes_in_buffer = static_cast<size_t>(Got);
  }
  Src.StartOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr Info, long Count) {
  if (Count <= 0) return;
  TJpegSource& Src = SourceOf(Info);
  while (static_cast<size_t>(Count) > Src.Pub.bytes_in_buffer) {
    Count -= static_cast<long>(Src.Pub.bytes_in_buffer);
    FillInputBuffer(Info);
    // The data ended inside the skipped part: stop at the fake marker.
    if (Src.Pub.next_input_byte == kFakeEoi) return;
  }
  Src.Pub.next_input_byte += Count;
  Src.Pub.bytes_in_buffer -= static_cast<size_t>(Count);
}

// Leaves a stream read from memory just after the bytes libjpeg consumed.
void TermSource(j_decompress_ptr Info) {
  TJpegSource& Src = SourceOf(Info);
  if (Src.Memory == nullptr || Src.Pub.next_input_byte == kFakeEoi) return;
  const int64_t Used = Src.Length - static_cast<int64_t>(Src.Pub.bytes_in_buffer);
  CallStream(reinterpret_cast<j_common_ptr>(Info),
             [&] { return Src.Stream->Seek(Src.Start + Used, TSeekOrigin::soBeginning); });
}

void InstallSource(j_decompress_ptr Info, TJpegSource& Src, TStream& Stream) {
  Src.Pub.init_source = InitSource;
  Src.Pub.fill_input_buffer = FillInputBuffer;
  Src.Pub.skip_input_data = SkipInputData;
  Src.Pub.resync_to_restart = jpeg_resync_to_restart;
  Src.Pub.term_source = TermSource;
  Src.Stream = &Stream;
  Src.Memory = nullptr;
  Src.StartOfFile = true;
  Src.Pub.next_input_byte = nullptr;
  Src.Pub.bytes_in_buffer = 0;
  if (const uint8_t* Bytes = Stream.Memory()) {
    const int64_t Start = Stream.Position();
    const int64_t Size = Stream.Size();
    if (Start >= 0 && Start <= Size) {
      Src.Memory = Bytes + Start;
      Src.Start = Start;
      Src.Length = Size - Start;
      Src.Pub.next_input_byte = Src.Memory;
      Src.Pub.bytes_in_buffer = static_cast<size_t>(Src.Length);
      Src.StartOfFile = Src.Length == 0;
    }
  }
  Info->src = &Src.Pub;
}

// ---- Data destination -----------------------------------------------------

struct TJpegDestination {
  jpeg_destination_mgr Pub;
  TStream* Stream;
  JOCTET Buffer[kBlockSize];
};

TJpegDestination& DestinationOf(j_compress_ptr Info) {
  return *reinterpret_cast<TJpegDestination*>(Info->dest);
}

void InitDestination(j_compress_ptr Info) {
  TJpegDestination& Dest = DestinationOf(Info);
  Dest.Pub.next_output_byte = Dest.Buffer;
  Dest.Pub.free_in_buffer = kBlockSize;
}

boolean EmptyOutputBuffer(j_compress_ptr Info) {
  TJpegDestination& Dest = DestinationOf(Info);
  CallStream(reinterpret_cast<j_common_ptr>(Info), [&] {
    Dest.Stream->WriteBuffer(Dest.Buffer, kBlockSize);
    return int64_t{0};
  });
  InitDestination(Info);
  return TRUE;
}

void TermDestination(j_compress_ptr Info) {
  TJpegDestination& Dest = DestinationOf(Info);
  const size_t Count = kBlockSize - Dest.Pub.free_in_buffer;
  if (Count == 0) return;
  CallStream(reinterpret_cast<j_common_ptr>(Info), [&] {
    Dest.Stream->WriteBuffer(Dest.Buffer, static_cast<int64_t>(Count));
    return int64_t{0};
  });
}

// ---- libjpeg objects that are destroyed on every path ----------------------

struct TJpegDecompression {
  TJpegErrorManager Err{};
  jpeg_decompress_struct Info{};
  TJpegSource Source{};
  TJpegDecompression() {
    InstallErrorManager(Err);
    Info.err = &Err.Pub;
  }
  ~TJpegDecompression() { jpeg_destroy_decompress(&Info); }
  TJpegDecompression(const TJpegDecompression&) = delete;
  TJpegDecompression& operator=(const TJpegDecompression&) = delete;
};

struct TJpegCompression {
  TJpegErrorManager Err{};
  jpeg_compress_struct Info{};
  TJpegDestination Destination{};
  TJpegCompression() {
    InstallErrorManager(Err);
    Info.err = &Err.Pub;
  }
  ~TJpegCompression() { jpeg_destroy_compress(&Info); }
  TJpegCompression(const TJpegCompression&) = delete;
  TJpegCompression& operator=(const TJpegCompression&) = delete;
};

// Dots per centimetre to dots per inch; 0 (the screen's resolution) when the
// result does not fit the image's 16-bit resolution.
uint16_t CentimetreDensityToDpi(unsigned Density) {
  const double Dpi = std::nearbyint(Density * 2.54);
  return Dpi <= 65535.0 ? static_cast<uint16_t>(Dpi) : 0;
}

// The orientation in the first EXIF segment libjpeg kept; 0 when there is none.
int SavedOrientation(const jpeg_decompress_struct& Info) {
  for (jpeg_saved_marker_ptr M = Info.marker_list; M != nullptr; M = M->next)
    if (M->marker == JPEG_APP0 + 1)
      if (const int Orientation = ExifOrientation(M->data, M->data_length)) return Orientation;
  return 0;
}

// The fewest bytes of entropy-coded data that can code Blocks blocks: every
// block's DC difference takes at least one bit of Huffman code; arithmetic
// coding can take far less, bounded here at a bit for 64 blocks.
uint64_t LeastJpegBytes(uint64_t Blocks, bool Arithmetic) {
  return Arithmetic ? Blocks / 512 : Blocks / 8;
}

// The ICC profile carried by the APP2 "ICC_PROFILE" segments libjpeg kept:
// each segment holds its chunk number (from 1) and the chunk count, and the
// chunks are joined in number order. Chunks missing, repeated, numbered
// outside the count or disagreeing on the count give no profile.
std::vector<uint8_t> SavedIccProfile(const jpeg_decompress_struct& Info) {
  static const uint8_t Tag[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
  constexpr size_t Header = sizeof(Tag) + 2; // tag, chunk number, chunk count
  std::vector<const jpeg_marker_struct*> Chunks;
  unsigned Count = 0;
  for (jpeg_saved_marker_ptr M = Info.marker_list; M != nullptr; M = M->next) {
    if (M->marker != JPEG_APP0 + 2 || M->data_length < Header ||
        std::memcmp(M->data, Tag, sizeof(Tag)) != 0)
      continue;
    const unsigned Number = M->data[sizeof(Tag)];
    const unsigned Total = M->data[sizeof(Tag) + 1];
    if (Count == 0) {
      Count = Total;
      if (Count == 0) return {};
      Chunks.assign(Count, nullptr);
    }
    if (Total != Count || Number == 0 || Number > Count || Chunks[Number - 1] != nullptr)
      return {};
    Chunks[Number - 1] = M;
  }
  std::vector<uint8_t> Profile;
  for (const jpeg_marker_struct* M : Chunks) {
    if (M == nullptr) return {};
    Profile.insert(Profile.end(), M->data + Header, M->data + M->data_length);
  }
  return Profile;
}

} // namespace

void TJpegGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  TJpegDecompression D;
  jpeg_decompress_struct& Info = D.Info;
  const int64_t Position = Stream.Position();
  const uint64_t DataBytes = uint64_t(std::max<int64_t>(0, Stream.Size() - Position));

  enum { Fits, TooLarge, TooShort, NoMemory } Verdict = Fits;
  uint64_t CoefficientBytes = 0;
  TMemoryReservation Coefficients;
  if (!Guarded(D.Err, [&] {
        jpeg_create_decompress(&Info);
        InstallSource(&Info, D.Source, Stream);
        // EXIF segments are kept for the photo's orientation.
        jpeg_save_markers(&Info, JPEG_APP0 + 1, 0xFFFF);
        // ICC profile segments, for the picture's colour description.
        jpeg_save_markers(&Info, JPEG_APP0 + 2, 0xFFFF);
        jpeg_read_header(&Info, TRUE);
        // Above the pixel limit: refused before libjpeg takes any picture memory.
        if (!PixelsAllowed(Info.image_width, Info.image_height)) {
          Verdict = TooLarge;
          return;
        }
        // Grey stays grey; everything else is converted to colour, which
        // libjpeg delivers straight in the image's blue-green-red order.
        Info.out_color_space = Info.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
        // The file must hold data for a meaningful part of the picture it
        // claims: libjpeg fills whatever the data do not reach, so a short
        // file would otherwise cost the whole picture (and, when
        // progressive, the whole picture's coefficients).
        uint64_t Blocks = 0;
        for (int C = 0; C < Info.num_components; ++C)
          Blocks += uint64_t(Info.comp_info[C].width_in_blocks) * Info.comp_info[C].height_in_blocks;
        const uint64_t Picture = uint64_t(Info.image_width) * Info.image_height *
                                 (Info.out_color_space == JCS_GRAYSCALE ? 1 : 3);
        // A progressive file keeps the whole picture's coefficients (a DCT
        // block of 64 two-byte values each) while it is decoded.
        CoefficientBytes = Info.progressive_mode || Info.buffered_image
                               ? Blocks * DCTSIZE2 * sizeof(JCOEF)
                               : 0;
        if (!DataCanFill(DataBytes, LeastJpegBytes(Blocks, Info.arith_code), Picture + CoefficientBytes)) {
          Verdict = TooShort;
          return;
        }
        // The coefficients are held from the memory budget while decoding;
        // libjpeg may take them and little more, so that a picture the
        // budget cannot hold fails here ("Backing store not supported")
        // instead of taking more memory than the machine has.
        uint64_t Allowed = 64ull << 20; // libjpeg's own row and table buffers
        if (CoefficientBytes > 0) {
          Coefficients = TMemoryReservation(CoefficientBytes);
          if (!Coefficients || !MemoryCanBeHad(CoefficientBytes + Picture)) {
            Verdict = NoMemory;
            return;
          }
          Allowed += CoefficientBytes;
        }
        Info.mem->max_memory_to_use =
            long(std::min<uint64_t>(Allowed, uint64_t(std::numeric_limits<long>::max())));
        // For a display copy that needs less (decoding ahead), libjpeg
        // decodes at M/8 of the size: the least M whose picture still covers
        // the size it is shown at.
        const int Stored = SavedOrientation(Info);
        const bool Turned = OrientationEnabled() && Stored >= 5 && Stored <= 8;
        const double Scale = TReducedDecodeScope::ScaleFor(
            int(Turned ? Info.image_height : Info.image_width),
            int(Turned ? Info.image_width : Info.image_height));
        const int Eighths = Scale < 1.0 ? std::max(1, int(std::ceil(Scale * 8 - 1e-9))) : 8;
        if (Eighths < 8) {
          Info.scale_num = unsigned(Eighths);
          Info.scale_denom = 8;
        }
        jpeg_start_decompress(&Info);
      }))
    RaiseLibraryError(D.Err);
  switch (Verdict) {
  case TooLarge:
    throw EJpegError(PixelLimitMessage(Info.image_width, Info.image_height));
  case TooShort:
    throw EJpegError(ShortDataMessage("JPEG", DataBytes, Info.image_width, Info.image_height));
  case NoMemory:
    throw EJpegError("Not enough memory for the " +
                     std::to_string((CoefficientBytes + (1 << 20) - 1) >> 20) +
                     " MB of coefficients of a " + std::to_string(Info.image_width) + " x " +
                     std::to_string(Info.image_height) + " progressive JPEG");
  case Fits:
    break;
  }
  // Read now: finishing the decompression frees the saved segments.
  const int Orientation = SavedOrientation(Info);
  std::vector<uint8_t> Icc = SavedIccProfile(Info);

  TImageFormat Format;
  switch (Info.output_components) {
  case 1:
    Format = ifGray256;
    break;
  case 3:
    Format = ifTrueColor;
    break;
  default:
    throw EJpegError("Invalid number of samples, " + std::to_string(Info.output_components));
  }

  uint16_t XRes = 0;
  uint16_t YRes = 0;
  if (Info.density_unit == 1) {
    XRes = Info.X_density;
    YRes = Info.Y_density;
  } else if (Info.density_unit == 2) {
    XRes = CentimetreDensityToDpi(Info.X_density);
    YRes = CentimetreDensityToDpi(Info.Y_density);
  }

  NewImage(static_cast<int>(Info.output_width), static_cast<int>(Info.output_height), Format,
           nullptr, XRes, YRes);

  // Each row is decoded straight into the image's own row.
  bool Stopped = false;
  if (!Guarded(D.Err, [&] {
        while (Info.output_scanline < Info.output_height) {
          if (TDecodeStopScope::Requested()) {
            Stopped = true;
            return;
          }
          JSAMPROW Row = ScanLine(static_cast<int>(Info.output_scanline));
          jpeg_read_scanlines(&Info, &Row, 1);
        }
        jpeg_finish_decompress(&Info);
      }))
    RaiseLibraryError(D.Err);
  if (Stopped) TDecodeStopScope::Check();

  if (OrientationEnabled()) OrientImage(*this, Orientation);
  if (Info.scale_num < Info.scale_denom) {
    const bool Turned = OrientationEnabled() && Orientation >= 5 && Orientation <= 8;
    SetWholeSize(int(Turned ? Info.image_height : Info.image_width),
                 int(Turned ? Info.image_width : Info.image_height));
  }
  if (!Icc.empty()) {
    auto Description = std::make_shared<TColorDescription>();
    Description->Icc = std::move(Icc);
    SetColorDescription(std::move(Description));
  }
}

void TJpegGraphic::SaveToStream(TStream& Stream) {
  const bool Grey = ImageFormat() == ifGray256;
  if (Empty() || (!Grey && ImageFormat() != ifTrueColor))
    throw EJpegError("JPEG image must be gray scale or true color");

  TJpegCompression C;
  jpeg_compress_struct& Info = C.Info;
  C.Destination.Stream = &Stream;
  C.Destination.Pub.init_destination = InitDestination;
  C.Destination.Pub.empty_output_buffer = EmptyOutputBuffer;
  C.Destination.Pub.term_destination = TermDestination;

  if (!Guarded(C.Err, [&] {
        jpeg_create_compress(&Info);
        Info.dest = &C.Destination.Pub;
        Info.image_width = static_cast<JDIMENSION>(Width());
        Info.image_height = static_cast<JDIMENSION>(Height());
        Info.input_components = Grey ? 1 : 3;
        // The rows are handed over as they are: libjpeg reads blue-green-red.
        Info.in_color_space = Grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_set_defaults(&Info);
        jpeg_set_quality(&Info, Quality, TRUE);
        if (Progressive) jpeg_simple_progression(&Info);
        Info.optimize_coding = OptimizeCoding ? TRUE : FALSE;
        Info.density_unit = 1;
        Info.X_density = XDpi();
        Info.Y_density = YDpi();
        jpeg_start_compress(&Info, TRUE);
        while (Info.next_scanline < Info.image_height) {
          JSAMPROW Row = ScanLine(static_cast<int>(Info.next_scanline));
          jpeg_write_scanlines(&Info, &Row, 1);
        }
        jpeg_finish_compress(&Info);
      }))
    RaiseLibraryError(C.Err);
}
