#pragma once
// Locale collation of text for sorting: ICU, with the settings that order
// letters alphabetically first and case second (lower case first), make only
// hyphens and apostrophes weigh less than letters, and compare digits
// character by character. Texts are UTF-8; ill-formed bytes collate as
// U+FFFD and are then told apart by their raw bytes, so the order is total.

#include "platform/Exception.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Raised when a collator cannot be made for a locale.
class ECollationError : public Exception {
public:
  using Exception::Exception;
};

// The locale LocaleID 1024 stands for: LC_ALL, LC_COLLATE or LANG of the
// environment (encoding and modifier dropped); "C", "POSIX" and empty mean English.
std::string DefaultCollationLocale();
// The ICU locale name of a Windows-style locale identifier; 1024 (and 0 and
// 2048) mean the user's default locale. Empty when the identifier is unknown.
std::string CollationLocaleName(int LocaleID);

class TCollator {
public:
  // Raises ECollationError when the locale cannot be had.
  explicit TCollator(int LocaleID, bool CaseInsensitive = false);
  ~TCollator();
  TCollator(const TCollator&) = delete;
  TCollator& operator=(const TCollator&) = delete;

  int LocaleID() const { return FLocaleID; }
  bool CaseInsensitive() const { return FCaseInsensitive; }
  const std::string& LocaleName() const { return FLocaleName; }

  // The locale's collation alone: -1, 0 or 1 (ties are possible).
  int CollateOnly(std::string_view A, std::string_view B) const;
  // The full order: collation, then (case-sensitive collators only) fewer
  // hyphens and apostrophes first, then raw bytes. -1, 0 or 1.
  int Compare(std::string_view A, std::string_view B) const;

  // Appends the ICU sort key of Text (ends in one zero byte, none inside) to
  // Key. Comparing two such keys with memcmp gives CollateOnly's order.
  void AppendSortKey(std::string_view Text, std::string& Key) const;
  // The number of hyphens and apostrophes in Text (the first tie-break).
  static int IgnorableCount(std::string_view Text);

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  int FLocaleID;
  bool FCaseInsensitive;
  std::string FLocaleName;
};
