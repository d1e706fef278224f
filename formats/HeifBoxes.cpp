#include "formats/HeifBoxes.h"

#include "platform/ByteReader.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint32_t FourCc(const char (&Name)[5]) {
  return uint32_t(uint8_t(Name[0])) << 24 | uint32_t(uint8_t(Name[1])) << 16 |
         uint32_t(uint8_t(Name[2])) << 8 | uint32_t(uint8_t(Name[3]));
}

// A big-endian field of Bytes bytes (0, 4 or 8); false for other widths.
bool BeField(TByteReader& R, unsigned Bytes, uint64_t& Value) {
  Value = 0;
  if (Bytes == 0) return true;
  if (Bytes != 4 && Bytes != 8) return false;
  if (Bytes == 8) {
    const uint64_t High = R.Be32();
    Value = High << 32;
  }
  Value |= R.Be32();
  return !R.Failed();
}

// One box: its type and the range of its payload.
struct TBox {
  uint32_t Type = 0;
  size_t Start = 0;
  size_t End = 0;
};

// Reads the header of the box at the reader's position, which must end by
// End; false when there is none or it does not fit.
bool NextBox(TByteReader& R, size_t End, TBox& Box) {
  const size_t At = R.Position();
  if (At >= End || End - At < 8) return false;
  uint64_t Size = R.Be32();
  Box.Type = R.Be32();
  if (Size == 1) {
    if (!BeField(R, 8, Size)) return false;
  } else if (Size == 0) {
    Size = End - At;
  }
  const size_t Header = R.Position() - At;
  if (R.Failed() || Size < Header || Size > End - At) return false;
  Box.Start = R.Position();
  Box.End = At + size_t(Size);
  return true;
}

// Version of a full box; its flags are skipped.
unsigned FullBoxVersion(TByteReader& R) {
  const unsigned Version = R.U8();
  R.Skip(3);
  return Version;
}

struct TDerivedItem {
  uint32_t Id;
  uint32_t Type;
  bool operator<(const TDerivedItem& Other) const { return Id < Other.Id; }
};

// The grid and overlay items listed in an iinf box.
std::vector<TDerivedItem> DerivedItems(TByteReader& R, const TBox& Info) {
  std::vector<TDerivedItem> Items;
  R.Seek(Info.Start);
  const unsigned Version = FullBoxVersion(R);
  if (Version == 0)
    R.Be16();
  else
    R.Be32();
  TBox Entry;
  while (!R.Failed() && NextBox(R, Info.End, Entry)) {
    if (Entry.Type == FourCc("infe")) {
      const unsigned EntryVersion = FullBoxVersion(R);
      if (EntryVersion >= 2) {
        const uint32_t Id = EntryVersion == 2 ? R.Be16() : R.Be32();
        R.Be16(); // protection index
        const uint32_t Type = R.Be32();
        if (!R.Failed() && (Type == FourCc("grid") || Type == FourCc("iovl")))
          Items.push_back({Id, Type});
      }
    }
    R.Seek(Entry.End);
  }
  std::sort(Items.begin(), Items.end());
  return Items;
}

// The canvas size in the first bytes of a grid's or an overlay's data.
bool CanvasOf(uint32_t Type, const std::vector<uint8_t>& Head, uint32_t& Width, uint32_t& Height) {
  TByteReader R(Head.data(), Head.size());
  const unsigned Version = R.U8();
  const unsigned Flags = R.U8();
  if (Version != 0) return false;
  if (Type == FourCc("grid"))
    R.Skip(2); // rows and columns, less one
  else
    R.Skip(8); // the fill colour
  if (Flags & 1) {
    Width = R.Be32();
    Height = R.Be32();
  } else {
    Width = R.Be16();
    Height = R.Be16();
  }
  return !R.Failed();
}

// Up to Need bytes of an item's data from its extents in Source.
std::vector<uint8_t> ItemHead(const std::vector<std::pair<uint64_t, uint64_t>>& Extents,
                              const uint8_t* Source, size_t SourceSize, size_t Need) {
  std::vector<uint8_t> Head;
  for (const auto& [Offset, Length] : Extents) {
    if (Head.size() >= Need || Offset > SourceSize) break;
    const uint64_t Available = SourceSize - Offset;
    const uint64_t Take = std::min<uint64_t>({Length == 0 ? Available : Length, Available,
                                              uint64_t(Need - Head.size())});
    Head.insert(Head.end(), Source + Offset, Source + Offset + Take);
    if (Take < Length) break;
  }
  return Head;
}

} // namespace

THeifCanvas ReadHeifCanvas(const uint8_t* Data, size_t Size) {
  THeifCanvas Canvas;
  TByteReader R(Data, Size);
  TBox Box, Meta;
  bool HaveMeta = false;
  while (!HaveMeta && NextBox(R, Size, Box)) {
    if (Box.Type == FourCc("meta")) {
      Meta = Box;
      HaveMeta = true;
    }
    R.Seek(Box.End);
  }
  if (!HaveMeta) return Canvas;

  TBox Info, Location, ItemData;
  bool HaveInfo = false, HaveLocation = false, HaveData = false;
  R.Seek(Meta.Start);
  FullBoxVersion(R);
  while (!R.Failed() && NextBox(R, Meta.End, Box)) {
    if (Box.Type == FourCc("iinf") && !HaveInfo) Info = Box, HaveInfo = true;
    if (Box.Type == FourCc("iloc") && !HaveLocation) Location = Box, HaveLocation = true;
    if (Box.Type == FourCc("idat") && !HaveData) ItemData = Box, HaveData = true;
    R.Seek(Box.End);
  }
  if (!HaveInfo) return Canvas;
  const std::vector<TDerivedItem> Derived = DerivedItems(R, Info);
  if (Derived.empty()) return Canvas;
  Canvas.Derived = true;
  if (!HaveLocation) return Canvas;

  // The location of each derived item, and the canvas with the most pixels.
  R = TByteReader(Data, Location.End);
  R.Seek(Location.Start);
  const unsigned Version = FullBoxVersion(R);
  const unsigned Sizes = R.U8();
  const unsigned MoreSizes = R.U8();
  const unsigned OffsetSize = Sizes >> 4, LengthSize = Sizes & 15;
  const unsigned BaseOffsetSize = MoreSizes >> 4;
  const unsigned IndexSize = (Version == 1 || Version == 2) ? MoreSizes & 15 : 0;
  const uint32_t Count = Version < 2 ? R.Be16() : R.Be32();
  size_t Found = 0;
  uint64_t LargestArea = 0;
  for (uint32_t I = 0; I < Count && !R.Failed(); ++I) {
    const uint32_t Id = Version < 2 ? R.Be16() : R.Be32();
    unsigned Method = 0;
    if (Version == 1 || Version == 2) Method = R.Be16() & 15;
    R.Be16(); // data reference index
    uint64_t Base = 0;
    if (!BeField(R, BaseOffsetSize, Base)) return Canvas;
    const uint32_t Extents = R.Be16();
    std::vector<std::pair<uint64_t, uint64_t>> Ranges;
    for (uint32_t E = 0; E < Extents && !R.Failed(); ++E) {
      uint64_t Index = 0, Offset = 0, Length = 0;
      if (!BeField(R, IndexSize, Index) || !BeField(R, OffsetSize, Offset) ||
          !BeField(R, LengthSize, Length))
        return Canvas;
      if (Base + Offset < Base) return Canvas;
      if (Ranges.size() < 4) Ranges.emplace_back(Base + Offset, Length);
    }
    const auto It = std::lower_bound(Derived.begin(), Derived.end(), TDerivedItem{Id, 0});
    if (R.Failed() || It == Derived.end() || It->Id != Id) continue;
    const uint8_t* Source = Data;
    size_t SourceSize = Size;
    if (Method == 1) {
      if (!HaveData) return Canvas;
      Source = Data + ItemData.Start;
      SourceSize = ItemData.End - ItemData.Start;
    } else if (Method != 0) {
      return Canvas;
    }
    uint32_t Width = 0, Height = 0;
    if (!CanvasOf(It->Type, ItemHead(Ranges, Source, SourceSize, 20), Width, Height)) return Canvas;
    if (uint64_t(Width) * Height >= LargestArea) {
      LargestArea = uint64_t(Width) * Height;
      Canvas.Width = Width;
      Canvas.Height = Height;
    }
    ++Found;
  }
  Canvas.Readable = Found == Derived.size();
  return Canvas;
}
