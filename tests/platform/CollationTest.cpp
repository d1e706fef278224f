// Collation of picture names: English order, the POSIX locale taken as
// English, and sort keys that order as the collator compares.

#include "platform/Collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(Collation, EnglishOrders) {
  TCollator C(1024);
  EXPECT_EQ(C.LocaleName().substr(0, 2), "en");
  struct TCase {
    std::vector<std::string> Input, Expected;
  };
  const std::vector<TCase> Cases = {
      {{"b.jpg", "A.jpg", "a.jpg", "B.jpg"}, {"a.jpg", "A.jpg", "b.jpg", "B.jpg"}},
      {{"img2.jpg", "img10.jpg"}, {"img10.jpg", "img2.jpg"}},
      {{"co-op", "coop", "co_op"}, {"co_op", "coop", "co-op"}},
      {{"Zebra.png", "Äpfel.png", "apfel.png", "Apfel.png", "zebra.png"},
       {"apfel.png", "Apfel.png", "Äpfel.png", "zebra.png", "Zebra.png"}},
  };
  for (const TCase& Case : Cases) {
    std::vector<std::string> V = Case.Input;
    std::sort(V.begin(), V.end(),
              [&](const std::string& A, const std::string& B) { return C.Compare(A, B) < 0; });
    EXPECT_EQ(V, Case.Expected);
  }
  // The explicit English locale identifier gives the same order.
  TCollator English(1033);
  EXPECT_LT(English.Compare("a.jpg", "A.jpg"), 0);
  EXPECT_LT(English.Compare("A.jpg", "b.jpg"), 0);
}

TEST(Collation, PosixLocaleMeansEnglish) {
  const std::string Saved = getenv("LC_ALL") ? getenv("LC_ALL") : "";
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(DefaultCollationLocale(), "en_US");
  TCollator C(1024);
  EXPECT_LT(C.Compare("a.jpg", "B.jpg"), 0) << "not code point order";
  setenv("LC_ALL", Saved.c_str(), 1);
}

TEST(Collation, SortKeysAgreeWithCollation) {
  TCollator C(1024);
  const std::vector<std::string> Names = {"a",     "A",    "b",    "img10", "img2",
                                          "co-op", "coop", "\xff", "",      "ä"};
  for (const auto& A : Names)
    for (const auto& B : Names) {
      std::string KA, KB;
      C.AppendSortKey(A, KA);
      C.AppendSortKey(B, KB);
      const int M = KA.compare(KB);
      EXPECT_EQ((M > 0) - (M < 0), C.CollateOnly(A, B)) << A << " / " << B;
    }
}

}  // namespace
