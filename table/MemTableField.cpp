// Fields: a record's values read from the record window and converted to
// text, numbers and dates; new values checked and written to the edit buffer.
#include "table/MemTableInternal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace memtable_internal;

namespace {

bool IsIntegerType(TFieldType T) {
  return T == ftSmallint || T == ftInteger || T == ftWord || T == ftAutoInc || T == ftLargeint ||
         T == ftBoolean;
}

// Cuts text at its first zero byte and at Size bytes, never inside a
// well-formed UTF-8 sequence.
std::string_view CutText(std::string_view Text, int Size) {
  const size_t Zero = Text.find('\0');
  if (Zero != std::string_view::npos) Text = Text.substr(0, Zero);
  if (Size <= 0 || Text.size() <= static_cast<size_t>(Size)) return Text;
  size_t Cut = static_cast<size_t>(Size);
  // Step back over continuation bytes to the lead byte of the character at the cut.
  size_t Lead = Cut;
  int Back = 0;
  while (Lead > 0 && Back < 3 && (static_cast<unsigned char>(Text[Lead]) & 0xC0) == 0x80) {
    --Lead;
    ++Back;
  }
  if (Back > 0) {
    const unsigned char L = static_cast<unsigned char>(Text[Lead]);
    const int Len = L >= 0xF0 && L < 0xF8 ? 4 : L >= 0xE0 ? 3 : L >= 0xC0 ? 2 : 1;
    if (Len > Back) Cut = Lead; // the character would be split: drop it whole
  }
  return Text.substr(0, Cut);
}

} // namespace

// ---------------------------------------------------------------------------
// TField

TField::TField(TmtbCustomMemTable& DataSet, std::string ComponentName, std::string FieldName,
               TFieldType DataType, int Size, TFieldKind Kind)
    : FDataSet(&DataSet), FName(std::move(ComponentName)), FFieldName(std::move(FieldName)),
      FDataType(DataType), FFieldKind(Kind), FSize(Size) {}

const std::string& TField::DisplayName() const {
  return FDisplayLabel.empty() ? FFieldName : FDisplayLabel;
}

bool TField::IsBlob() const {
  return IsBlobType(FDataType);
}

int TField::DisplayWidth() const {
  if (FDisplayWidth >= 0) return FDisplayWidth;
  switch (FDataType) {
  case ftString:
  case ftFixedChar:
    return FSize;
  case ftSmallint:
    return 6;
  case ftInteger:
  case ftAutoInc:
    return 11;
  case ftWord:
    return 5;
  case ftLargeint:
    return 15;
  case ftBoolean:
    return 5;
  case ftDate:
  case ftTime:
    return 10;
  case ftDateTime:
    return 2 * 8 + 2; // twice the data size plus 2
  default:
    return 10;
  }
}

// Reads the value of field FieldIndex in buffer BufferIndex of the window
// (-1: the active buffer); a null value when there is no record.
static TValueRef BufferValue(const TmtbCustomMemTable::TImpl& Impl, int BufferIndex,
                             int FieldIndex) {
  if (BufferIndex < 0 || static_cast<size_t>(BufferIndex) >= Impl.Window.size()) return {};
  if (static_cast<size_t>(FieldIndex) >= Impl.Layout.size()) return {};
  const auto& B = Impl.Window[static_cast<size_t>(BufferIndex)];
  if (B.Position < 0) {
    const auto& E = Impl.Edit[static_cast<size_t>(FieldIndex)];
    if (E.Null) return {};
    TValueRef V;
    V.Null = false;
    V.P = reinterpret_cast<const uint8_t*>(E.Bytes.data());
    V.Len = E.Bytes.size();
    return V;
  }
  if (!B.Record) return {};
  return ReadRecordValue(B.Record, Impl.Layout[static_cast<size_t>(FieldIndex)]);
}

namespace {

std::string ValueToString(const TField& F, const TValueRef& V, bool Display) {
  if (V.Null) return {};
  const TFieldType T = F.DataType();
  if (IsTextType(T) || T == ftBytes || T == ftVarBytes || IsBlobType(T)) {
    if (Display && IsBlobType(T) && T != ftMemo && T != ftFmtMemo) return "(BLOB)";
    return std::string(V.Text());
  }
  if (T == ftDate || T == ftTime || T == ftDateTime) {
    double D;
    std::memcpy(&D, V.P, 8);
    std::string S = DateTimeDisplayText(D);
    if (T == ftDate) {
      const double Day = std::trunc(D);
      S = DateTimeDisplayText(Day);
    } else if (T == ftTime) {
      const std::string Full =
          DateTimeDisplayText(D - std::trunc(D) + 2); // any date; keep the time part
      const std::string DateOnly = DateTimeDisplayText(2);
      S = Full.size() > DateOnly.size() ? Full.substr(DateOnly.size() + 1) : std::string();
    }
    return S;
  }
  if (T == ftFloat || T == ftCurrency) {
    double D;
    std::memcpy(&D, V.P, 8);
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.15g", D);
    return Buf;
  }
  if (T == ftBoolean) {
    int16_t B;
    std::memcpy(&B, V.P, 2);
    return B ? "True" : "False";
  }
  if (IsIntegerType(T)) return std::to_string(F.AsLargeInt());
  return {}; // BCD, ADT and array values have no text here
}

} // namespace

bool TField::IsNull() const {
  const auto& Impl = *FDataSet->FImpl;
  if (FIndex < 0 || !FDataSet->Active()) return true;
  FDataSet->SettleWindow();
  return BufferValue(Impl, FDataSet->FActive, FIndex).Null;
}

std::string TField::AsString() const {
  if (FIndex < 0 || !FDataSet->Active()) return {};
  TLock Guard(FDataSet->FCommon->Lock());
  FDataSet->SettleWindow();
  return ValueToString(*this, BufferValue(*FDataSet->FImpl, FDataSet->FActive, FIndex), false);
}

std::string TField::AsStringAt(int RecNo) const {
  if (FIndex < 0 || !FDataSet->Active()) return {};
  TLock Guard(FDataSet->FCommon->Lock());
  const TmtbRecord* R = FDataSet->RecordAt(RecNo - 1);
  const auto& Layout = FDataSet->FImpl->Layout;
  if (R == nullptr || static_cast<size_t>(FIndex) >= Layout.size()) return {};
  return ValueToString(*this, ReadRecordValue(R, Layout[static_cast<size_t>(FIndex)]), false);
}

std::string TField::DisplayText() const {
  if (FIndex < 0 || !FDataSet->Active()) return {};
  TLock Guard(FDataSet->FCommon->Lock());
  FDataSet->SettleWindow();
  return ValueToString(*this, BufferValue(*FDataSet->FImpl, FDataSet->FActive, FIndex), true);
}

std::string TField::DisplayTextOf(int BufferIndex) const {
  if (FIndex < 0 || !FDataSet->Active()) return {};
  TLock Guard(FDataSet->FCommon->Lock());
  FDataSet->SettleWindow();
  return ValueToString(*this, BufferValue(*FDataSet->FImpl, BufferIndex, FIndex), true);
}

TDateTime TField::AsDateTime() const {
  if (FIndex < 0 || !FDataSet->Active()) return 0;
  FDataSet->SettleWindow();
  const TValueRef V = BufferValue(*FDataSet->FImpl, FDataSet->FActive, FIndex);
  if (V.Null) return 0;
  if (!IsFloatType(FDataType))
    throw EDatabaseError("Cannot access field '" + FFieldName + "' as type DateTime");
  double D;
  std::memcpy(&D, V.P, 8);
  return D;
}

double TField::AsFloat() const {
  if (FIndex < 0 || !FDataSet->Active()) return 0;
  FDataSet->SettleWindow();
  const TValueRef V = BufferValue(*FDataSet->FImpl, FDataSet->FActive, FIndex);
  if (V.Null) return 0;
  if (IsFloatType(FDataType)) {
    double D;
    std::memcpy(&D, V.P, 8);
    return D;
  }
  if (IsIntegerType(FDataType)) return static_cast<double>(AsLargeInt());
  throw EDatabaseError("Cannot access field '" + FFieldName + "' as type Float");
}

int64_t TField::AsLargeInt() const {
  if (FIndex < 0 || !FDataSet->Active()) return 0;
  FDataSet->SettleWindow();
  const TValueRef V = BufferValue(*FDataSet->FImpl, FDataSet->FActive, FIndex);
  if (V.Null) return 0;
  switch (FDataType) {
  case ftSmallint:
  case ftBoolean: {
    int16_t X;
    std::memcpy(&X, V.P, 2);
    return X;
  }
  case ftWord: {
    uint16_t X;
    std::memcpy(&X, V.P, 2);
    return X;
  }
  case ftInteger:
  case ftAutoInc: {
    int32_t X;
    std::memcpy(&X, V.P, 4);
    return X;
  }
  case ftLargeint: {
    int64_t X;
    std::memcpy(&X, V.P, 8);
    return X;
  }
  default:
    throw EDatabaseError("Cannot access field '" + FFieldName + "' as type Integer");
  }
}

bool TField::AsBoolean() const {
  return AsLargeInt() != 0;
}

void TField::SetAsString(std::string_view Value) {
  if (IsTextType(FDataType) || FDataType == ftVarBytes || IsBlobType(FDataType)) {
    FDataSet->WriteField(*this, IsTextType(FDataType) ? CutText(Value, FSize) : Value, false);
    return;
  }
  if (FDataType == ftBytes) {
    std::string B(Value.substr(0, static_cast<size_t>(std::max(FSize, 0))));
    B.resize(static_cast<size_t>(std::max(FSize, 0)), '\0');
    FDataSet->WriteField(*this, B, false);
    return;
  }
  if (IsIntegerType(FDataType)) {
    const std::string S = Trim(Value);
    if (FDataType == ftBoolean) {
      if (EqualsIgnoreCase(S, "true")) return SetAsBoolean(true);
      if (EqualsIgnoreCase(S, "false")) return SetAsBoolean(false);
    } else {
      char* End = nullptr;
      const long long X = std::strtoll(S.c_str(), &End, 10);
      if (!S.empty() && End && *End == '\0') return SetAsLargeInt(X);
    }
    throw EDatabaseError("'" + std::string(Value) + "' is not a valid value for field '" +
                         FFieldName + "'");
  }
  if (FDataType == ftFloat || FDataType == ftCurrency) {
    const std::string S = Trim(Value);
    char* End = nullptr;
    const double X = std::strtod(S.c_str(), &End);
    if (!S.empty() && End && *End == '\0') return SetAsFloat(X);
    throw EDatabaseError("'" + std::string(Value) + "' is not a valid floating point value");
  }
  throw EDatabaseError("Cannot access field '" + FFieldName + "' as type String");
}

void TField::SetAsDateTime(TDateTime Value) {
  if (!IsFloatType(FDataType) || FDataType == ftFloat || FDataType == ftCurrency)
    throw EDatabaseError("Cannot access field '" + FFieldName + "' as type DateTime");
  SetAsFloat(Value);
}

void TField::SetAsFloat(double Value) {
  if (!IsFloatType(FDataType)) {
    if (IsIntegerType(FDataType)) return SetAsLargeInt(std::llround(Value));
    throw EDatabaseError("Cannot access field '" + FFieldName + "' as type Float");
  }
  // Values that have no order (NaN) or no date would break the indexes.
  if (!std::isfinite(Value))
    throw EDatabaseError("Invalid floating point value for field '" + FFieldName + "'");
  if (Value == 0) Value = 0;
  std::string B(8, '\0');
  std::memcpy(B.data(), &Value, 8);
  FDataSet->WriteField(*this, B, false);
}

void TField::SetAsLargeInt(int64_t Value) {
  std::string B;
  switch (FDataType) {
  case ftSmallint:
  case ftBoolean:
  case ftWord: {
    const int64_t Low = FDataType == ftWord ? 0 : FDataType == ftBoolean ? 0 : -32768;
    const int64_t High = FDataType == ftWord ? 65535 : FDataType == ftBoolean ? 1 : 32767;
    if (FDataType == ftBoolean) Value = Value != 0;
    if (Value < Low || Value > High)
      throw EDatabaseError(std::to_string(Value) + " is not a valid value for field '" +
                           FFieldName + "'. The allowed range is " + std::to_string(Low) + " to " +
                           std::to_string(High));
    const uint16_t X = static_cast<uint16_t>(Value);
    B.assign(2, '\0');
    std::memcpy(B.data(), &X, 2);
    break;
  }
  case ftInteger:
  case ftAutoInc: {
    if (Value < INT32_MIN || Value > INT32_MAX)
      throw EDatabaseError(std::to_string(Value) + " is not a valid value for field '" +
                           FFieldName + "'");
    const int32_t X = static_cast<int32_t>(Value);
    B.assign(4, '\0');
    std::memcpy(B.data(), &X, 4);
    break;
  }
  case ftLargeint:
    B.assign(8, '\0');
    std::memcpy(B.data(), &Value, 8);
    break;
  default:
    if (IsFloatType(FDataType)) return SetAsFloat(static_cast<double>(Value));
    throw EDatabaseError("Cannot access field '" + FFieldName + "' as type Integer");
  }
  FDataSet->WriteField(*this, B, false);
}

void TField::SetAsBoolean(bool Value) {
  if (FDataType != ftBoolean) return SetAsLargeInt(Value ? 1 : 0);
  SetAsLargeInt(Value ? 1 : 0);
}

void TField::Clear() {
  FDataSet->WriteField(*this, {}, true);
}
