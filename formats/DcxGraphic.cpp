#include "formats/DcxGraphic.h"

#include "platform/ByteReader.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace {

const char* const kHeaderNotValid = "The DCX file header is not valid";
const char* const kHeaderFull = "The DCX file header is full";

// Reads the magic; a stream shorter than it fails with the stream's read error.
void CheckMagic(TStream& Stream) {
  uint8_t b[4];
  Stream.ReadBuffer(b, 4);
  TByteReader in(b, sizeof b);
  const uint32_t magic = in.Le32();
  if (magic != TDcxGraphic::kMagic) throw EDcxError(kHeaderNotValid);
}

// The next offset entry; false when it can't be read in full.
bool ReadEntry(TStream& Stream, uint32_t& Value) {
  uint8_t b[4];
  TByteReader in(b, size_t(std::max<int64_t>(Stream.Read(b, 4), 0)));
  Value = in.Le32();
  return !in.Failed();
}

// The number of pages the offset table lists: its non-zero entries up to the
// first 0 or the end of the stream, whichever comes first.
int CountPages(TStream& Stream) {
  int count = 0;
  uint32_t entry = 0;
  while (count < INT_MAX && ReadEntry(Stream, entry) && entry != 0)
    ++count;
  return count;
}

} // namespace

// Page offsets count from the first byte of the DCX file, which is where the
// stream stands when these are called.

int TDcxGraphic::GetImageCount(TStream& Stream) {
  CheckMagic(Stream);
  int count = 0;
  for (;;) {
    uint32_t entry = 0;
    if (!ReadEntry(Stream, entry)) throw EDcxError(kHeaderNotValid);
    if (entry == 0) return count;
    ++count;
  }
}

void TDcxGraphic::LoadImageFromStream(TStream& Stream, int Index) {
  const int64_t base = Stream.Position();
  CheckMagic(Stream);
  if (Index < 1) throw EDcxError(kHeaderNotValid);
  const int pages = CountPages(Stream);
  Stream.SetPosition(base + 4);
  uint32_t start = 0;
  for (int i = 0; i < Index; ++i)
    if (!ReadEntry(Stream, start) || start == 0) throw EDcxError(kHeaderNotValid);
  uint32_t end = 0;
  if (!ReadEntry(Stream, end)) throw EDcxError(kHeaderNotValid);

  // A page must start after the part of the table read so far and inside the
  // stream, and end after it starts; the last page runs to the end.
  const int64_t size = Stream.Size() - base;
  const int64_t tableEnd = Stream.Position() - base;
  if (start < tableEnd || start >= size) throw EDcxError(kHeaderNotValid);
  const int64_t pageEnd = end == 0 ? size : int64_t(end);
  if (pageEnd <= int64_t(start) || pageEnd > size) throw EDcxError(kHeaderNotValid);

  TMemoryStream page;
  Stream.SetPosition(base + start);
  const int64_t count = pageEnd - start;
  if (const uint8_t* mem = Stream.Memory()) {
    page.WriteBuffer(mem + base + start, count);
  } else {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    if (Stream.Read(bytes.data(), count) != count) throw EDcxError(kHeaderNotValid);
    page.WriteBuffer(bytes.data(), count);
  }
  page.SetPosition(0);
  TPcxGraphic::LoadImageFromStream(page, 1);
  SetPageCount(std::max(1, pages));
}

void TDcxGraphic::SaveToStream(TStream& Stream) {
  // The magic, the one page's offset and an empty rest of the offset table.
  std::vector<uint8_t> head;
  TByteWriter out(head);
  out.Le32(kMagic);
  out.Le32(kFirstPage);
  out.Zeros(kFirstPage - head.size());
  Stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  TPcxGraphic::SaveToStream(Stream);
}

void TDcxGraphic::AppendToStream(TStream& Stream) {
  if (Stream.Size() == 0) {
    SaveToStream(Stream);
    return;
  }
  Stream.SetPosition(0);
  CheckMagic(Stream);
  uint32_t first = 0;
  if (!ReadEntry(Stream, first) || first == 0) throw EDcxError(kHeaderNotValid);
  uint32_t entry = first;
  while (entry != 0)
    if (!ReadEntry(Stream, entry)) throw EDcxError(kHeaderNotValid);
  // The free entry and the 0 that ends the table must both lie before the
  // first page, or the new entries would overwrite it.
  const int64_t slot = Stream.Position() - 4;
  if (slot + 8 > int64_t(first)) throw EDcxError(kHeaderFull);
  const int64_t pageStart = Stream.Size();
  if (pageStart > 0xFFFFFFFF) throw EDcxError(kHeaderFull);
  // The new page's offset and the 0 that now ends the table.
  std::vector<uint8_t> entries;
  TByteWriter out(entries);
  out.Le32(static_cast<uint32_t>(pageStart));
  out.Le32(0);
  Stream.SetPosition(slot);
  Stream.WriteBuffer(entries.data(), static_cast<int64_t>(entries.size()));
  Stream.SetPosition(pageStart);
  TPcxGraphic::SaveToStream(Stream);
}
