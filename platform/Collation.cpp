#include "platform/Collation.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Only the hyphen and the apostrophe become ignorable; every other
// punctuation mark keeps its weight (alternate handling stays non-ignorable).
constexpr char16_t IgnorableRule[] = u"&[last tertiary ignorable] = '-' = ''";

std::string StripPosixLocale(std::string Name) {
  const auto Cut = Name.find_first_of(".@");
  if (Cut != std::string::npos) Name.erase(Cut);
  return Name;
}

int Sign(int Value) {
  return (Value > 0) - (Value < 0);
}

} // namespace

std::string DefaultCollationLocale() {
  std::string Name;
  for (const char* Var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* Value = std::getenv(Var);
    if (Value && *Value) {
      Name = Value;
      break;
    }
  }
  Name = StripPosixLocale(Name);
  if (Name.empty() || Name == "C" || Name == "POSIX") return "en_US";
  char Canonical[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode Status = U_ZERO_ERROR;
  uloc_canonicalize(Name.c_str(), Canonical, sizeof Canonical, &Status);
  std::string Result = U_SUCCESS(Status) ? std::string(Canonical) : Name;
  // en_US_POSIX collates in code point order (capitals before small letters).
  if (Result.empty() || Result == "en_US_POSIX" || Result.rfind("en_US_POSIX", 0) == 0)
    return "en_US";
  return Result;
}

std::string CollationLocaleName(int LocaleID) {
  if (LocaleID == 0 || LocaleID == 1024 || LocaleID == 2048) return DefaultCollationLocale();
  if (LocaleID < 0) return {};
  char Name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode Status = U_ZERO_ERROR;
  const int32_t Length =
      uloc_getLocaleForLCID(static_cast<uint32_t>(LocaleID), Name, sizeof Name, &Status);
  if (U_FAILURE(Status) || Length <= 0) return {};
  std::string Result(Name, static_cast<size_t>(Length));
  if (Result == "en_US_POSIX") return "en_US";
  return Result;
}

struct TCollator::TImpl {
  UCollator* Collator = nullptr;
  // Scratch buffers reused between calls (one thread uses a collator).
  mutable std::vector<UChar> Text16;
  mutable std::vector<uint8_t> Key;
  ~TImpl() {
    if (Collator) ucol_close(Collator);
  }
};

TCollator::TCollator(int LocaleID, bool CaseInsensitive)
    : FImpl(std::make_unique<TImpl>()), FLocaleID(LocaleID), FCaseInsensitive(CaseInsensitive) {
  FLocaleName = CollationLocaleName(LocaleID);
  if (FLocaleName.empty())
    throw ECollationError("No collation for locale " + std::to_string(LocaleID));
  UErrorCode Status = U_ZERO_ERROR;
  UCollator* Base = ucol_open(FLocaleName.c_str(), &Status);
  if (U_FAILURE(Status) || !Base)
    throw ECollationError(std::string("Cannot open the collation of ") + FLocaleName + ": " +
                          u_errorName(Status));
  int32_t BaseLength = 0;
  const UChar* BaseRules = ucol_getRules(Base, &BaseLength);
  std::u16string Rules(reinterpret_cast<const char16_t*>(BaseRules),
                       static_cast<size_t>(BaseLength));
  ucol_close(Base);
  Rules += IgnorableRule;
  UParseError ParseError{};
  Status = U_ZERO_ERROR;
  FImpl->Collator = ucol_openRules(
      reinterpret_cast<const UChar*>(Rules.data()), static_cast<int32_t>(Rules.size()),
      UCOL_DEFAULT, CaseInsensitive ? UCOL_SECONDARY : UCOL_TERTIARY, &ParseError, &Status);
  if (U_FAILURE(Status) || !FImpl->Collator)
    throw ECollationError(std::string("Cannot build the collation of ") + FLocaleName + ": " +
                          u_errorName(Status));
  ucol_setAttribute(FImpl->Collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &Status);
  ucol_setAttribute(FImpl->Collator, UCOL_CASE_FIRST, UCOL_LOWER_FIRST, &Status);
  ucol_setAttribute(FImpl->Collator, UCOL_NUMERIC_COLLATION, UCOL_OFF, &Status);
  ucol_setAttribute(FImpl->Collator, UCOL_STRENGTH,
                    CaseInsensitive ? UCOL_SECONDARY : UCOL_TERTIARY, &Status);
  if (U_FAILURE(Status))
    throw ECollationError(std::string("Cannot set up the collation of ") + FLocaleName + ": " +
                          u_errorName(Status));
}

TCollator::~TCollator() = default;

int TCollator::CollateOnly(std::string_view A, std::string_view B) const {
  UErrorCode Status = U_ZERO_ERROR;
  const UCollationResult Result =
      ucol_strcollUTF8(FImpl->Collator, A.data(), static_cast<int32_t>(A.size()), B.data(),
                       static_cast<int32_t>(B.size()), &Status);
  if (U_FAILURE(Status))
    throw ECollationError(std::string("Collation failed: ") + u_errorName(Status));
  return Result == UCOL_LESS ? -1 : Result == UCOL_GREATER ? 1 : 0;
}

int TCollator::IgnorableCount(std::string_view Text) {
  return static_cast<int>(
      std::count_if(Text.begin(), Text.end(), [](char C) { return C == '-' || C == '\''; }));
}

int TCollator::Compare(std::string_view A, std::string_view B) const {
  const int Collated = CollateOnly(A, B);
  if (Collated != 0 || FCaseInsensitive) return Collated;
  const int CountA = IgnorableCount(A), CountB = IgnorableCount(B);
  if (CountA != CountB) return CountA < CountB ? -1 : 1;
  const int Raw = std::memcmp(A.data(), B.data(), std::min(A.size(), B.size()));
  if (Raw != 0) return Sign(Raw);
  return A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0;
}

void TCollator::AppendSortKey(std::string_view Text, std::string& Key) const {
  auto& Text16 = FImpl->Text16;
  if (Text16.size() < Text.size() + 1) Text16.resize(Text.size() + 1);
  int32_t Length16 = 0;
  UErrorCode Status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(Text16.data(), static_cast<int32_t>(Text16.size()), &Length16, Text.data(),
                       static_cast<int32_t>(Text.size()), 0xFFFD, nullptr, &Status);
  if (U_FAILURE(Status))
    throw ECollationError(std::string("Collation failed: ") + u_errorName(Status));
  auto& Buffer = FImpl->Key;
  if (Buffer.size() < 64) Buffer.resize(256);
  int32_t Needed = ucol_getSortKey(FImpl->Collator, Text16.data(), Length16, Buffer.data(),
                                   static_cast<int32_t>(Buffer.size()));
  if (Needed > static_cast<int32_t>(Buffer.size())) {
    Buffer.resize(static_cast<size_t>(Needed));
    Needed = ucol_getSortKey(FImpl->Collator, Text16.data(), Length16, Buffer.data(),
                             static_cast<int32_t>(Buffer.size()));
  }
  if (Needed <= 0) throw ECollationError("Collation failed: no sort key");
  Key.append(reinterpret_cast<const char*>(Buffer.data()), static_cast<size_t>(Needed));
}
