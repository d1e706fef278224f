// Blob fields read and written as streams.
#include "table/MemTable.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------
// Blob streams

class TmtbBlobStream : public TMemoryStream {
public:
  TmtbBlobStream(TField& Field, bool ForWrite) : FField(Field), FForWrite(ForWrite) {
    if (ForWrite) {
      auto& T = Field.DataSet();
      if (T.State() != dsInsert && T.State() != dsEdit)
        T.DatabaseError("Dataset is not in edit mode.");
    }
    const std::string Bytes = Field.IsNull() ? std::string() : Field.AsString();
    if (!Bytes.empty()) TMemoryStream::Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    Seek(0, TSeekOrigin::soBeginning);
  }
  int64_t Write(const void* Buffer, int64_t Count) override {
    if (!FForWrite) throw EStreamError("Stream write error");
    const int64_t N = TMemoryStream::Write(Buffer, Count);
    Store();
    return N;
  }
  void SetSize(int64_t NewSize) override {
    if (!FForWrite) throw EStreamError("Stream write error");
    TMemoryStream::SetSize(NewSize);
    Store();
  }

private:
  void Store() {
    FField.DataSet().WriteField(
        FField,
        std::string_view(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(Size())),
        false);
  }
  TField& FField;
  bool FForWrite;
};

std::unique_ptr<TStream> TmtbCustomMemTable::CreateBlobStream(TField& Field, bool ForWrite) {
  CheckActive();
  if (!Field.IsBlob())
    throw EDatabaseError("Field '" + Field.FieldName() + "' is not a blob field");
  return std::make_unique<TmtbBlobStream>(Field, ForWrite);
}
