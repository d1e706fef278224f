#pragma once

// Bounds on what pictures may take: a pixel limit for any one picture and a
// memory budget shared by every pixel buffer of the process (the shown
// picture, its display copy, zoomed copies and the picture decoded ahead).
//
// Pixel buffers charge the budget themselves (TPixelBuffer); other code asks
// it before work that would need much memory (decode-ahead, zoom) and may
// hold a TMemoryReservation for memory it takes outside pixel buffers.

#include <cstdint>
#include <string>

// ---- Pixel limit per picture

// The most pixels a picture may have: IMBREL_MAX_PIXELS from the environment
// when it holds a positive number, else one gigapixel (1,000,000,000).
uint64_t PixelLimit() noexcept;
// Replaces the limit (0: back to the environment's or the default).
void SetPixelLimit(uint64_t Pixels) noexcept;

// Whether a Width x Height picture stays within PixelLimit(). Negative or
// zero sizes are the readers' own business and pass.
bool PixelsAllowed(int64_t Width, int64_t Height) noexcept;
// "Picture too large: <W> x <H> pixels exceeds the limit of <N> pixels".
std::string PixelLimitMessage(int64_t Width, int64_t Height);
// Whether Message is one made by PixelLimitMessage (a refusal that no other
// decoder should be asked to retry).
bool IsPixelLimitMessage(const std::string& Message) noexcept;

// ---- Data a file holds against the picture it claims

// A file whose data cannot fill a meaningful part of the picture it claims is
// refused, so that what a picture costs follows what its file holds: a file
// of a few hundred bytes must not cost gigabytes of decoded pixels (or a
// decoder's working buffers) because its header says so.
//
// DataBytes: the bytes the file holds (from its start, or from where its
// pixel data begin). LeastBytes: the fewest bytes the format's coding needs
// for the whole picture, at its best compression (a lower bound; 0 when there
// is none). PictureBytes: what the decoded picture takes. The file is refused
// when the picture is big (above 16 MiB) and the data could fill less than a
// sixteenth of it even at that best compression; small pictures always pass,
// so a cut-off small file still shows what it holds.
bool DataCanFill(uint64_t DataBytes, uint64_t LeastBytes, uint64_t PictureBytes) noexcept;
// "<Format> data too short: <N> bytes cannot fill a <W> x <H> picture".
std::string ShortDataMessage(const std::string& Format, uint64_t DataBytes, int64_t Width,
                             int64_t Height);
// Whether Message is one made by ShortDataMessage (a refusal that no other
// decoder should be asked to retry).
bool IsShortDataMessage(const std::string& Message) noexcept;

// ---- Memory budget of the process

class TMemoryBudget {
public:
  // The budget in bytes: IMBREL_MEMORY_BUDGET (MiB) from the environment when
  // set, else three quarters of the memory the process could have when it
  // first asks (physical memory, bounded by its control group's limit).
  static uint64_t Limit() noexcept;
  // Replaces the budget (0: back to the environment's or the default).
  static void SetLimit(uint64_t Bytes) noexcept;

  static uint64_t Used() noexcept;
  // Limit() - Used(), 0 when over.
  static uint64_t Available() noexcept;

  // Takes Bytes from the budget when they fit (for background work: when
  // they fit and leave a quarter of the budget free). False: nothing taken.
  static bool TryReserve(uint64_t Bytes) noexcept;
  static void Release(uint64_t Bytes) noexcept;

  // Whether background work (decode-ahead) may start now: at least a quarter
  // of the budget is free.
  static bool RoomForBackground() noexcept;

  // While one lives, reservations made on this thread are background ones:
  // they must leave a quarter of the budget free, so decode-ahead yields to
  // what the user asks for.
  class TBackgroundScope {
  public:
    TBackgroundScope() noexcept;
    ~TBackgroundScope();
    TBackgroundScope(const TBackgroundScope&) = delete;
    TBackgroundScope& operator=(const TBackgroundScope&) = delete;

  private:
    bool FWas;
  };
};

// Bytes held from the budget for the life of the object.
class TMemoryReservation {
public:
  TMemoryReservation() = default;
  // Tries to take Bytes; check with the bool operator.
  explicit TMemoryReservation(uint64_t Bytes) noexcept;
  ~TMemoryReservation() { Reset(); }
  TMemoryReservation(TMemoryReservation&& Other) noexcept;
  TMemoryReservation& operator=(TMemoryReservation&& Other) noexcept;
  TMemoryReservation(const TMemoryReservation&) = delete;
  TMemoryReservation& operator=(const TMemoryReservation&) = delete;

  explicit operator bool() const noexcept { return FBytes != 0; }
  uint64_t Bytes() const noexcept { return FBytes; }
  void Reset() noexcept;

private:
  uint64_t FBytes = 0;
};
