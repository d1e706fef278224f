#pragma once
// Helpers shared by the table tests: an English collation locale for the
// process, a picture table that is open, posting a picture record, reading an
// order, and a view that records the notifications it receives.

#include "table/MemTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tabletest {

// The tests check English orders; the user's default locale comes from the
// environment, so fix it before any table is opened.
inline const bool EnglishLocale = [] {
  setenv("LC_ALL", "en_US.UTF-8", 1);
  return true;
}();

inline std::unique_ptr<TmtbMemTable> OpenPictureTable() {
  auto T = CreatePictureTable();
  T->Open();
  return T;
}

inline void AddPicture(TmtbCustomMemTable& T, const std::string& Name, const std::string& Location,
                       TDateTime Date = 40000.0, const std::string& Type = "jpg") {
  T.Insert();
  T.FieldByName("Name").SetAsString(Name);
  T.FieldByName("Location").SetAsString(Location);
  T.FieldByName("Date").SetAsDateTime(Date);
  T.FieldByName("Type").SetAsString(Type);
  T.Post();
}

// The values of one field in the selected order, walking the cursor.
inline std::vector<std::string> Column(TmtbCustomMemTable& T, const std::string& Field) {
  std::vector<std::string> Result;
  T.DisableControls();
  T.First();
  while (!T.Eof()) {
    Result.push_back(T.FieldByName(Field).AsString());
    T.Next();
  }
  T.EnableControls();
  return Result;
}

// A view that records every notification.
class TRecordingLink : public TDataLink {
public:
  struct TEvent {
    std::string Kind;
    int Info = 0;
    bool operator==(const TEvent&) const = default;
  };
  std::vector<TEvent> Events;
  int ActiveChanges = 0;

protected:
  void ActiveChanged() override {
    ++ActiveChanges;
    Events.push_back({Active() ? "active" : "inactive", 0});
  }
  void DataSetChanged() override { Events.push_back({"changed", 0}); }
  void DataSetScrolled(int Distance) override { Events.push_back({"scrolled", Distance}); }
  void LayoutChanged() override { Events.push_back({"layout", 0}); }
  void RecordChanged(TField*) override { Events.push_back({"record", 0}); }
  void EditingChanged() override { Events.push_back({"editing", 0}); }
};

} // namespace tabletest
