#include "table/MemTable.h"

void ConfigurePictureTable(TmtbCustomMemTable& Table) {
  if (Table.Active()) Table.Close();
  Table.SetName("mtbPictures");
  Table.ClearFields();
  Table.FieldDefs() = {
      {"Name", ftString, PictureNameSize, false},
      {"Location", ftString, PictureLocationSize, false},
      {"Date", ftDateTime, 0, false},
      {"Thumb", ftBlob, 0, false},
  };
  // The persistent fields decide the record: Type has no definition of its
  // own and becomes the fifth field when the table opens.
  Table.AddField("mtbPicturesName", "Name", ftString, PictureNameSize).SetDisplayWidth(20);
  Table.AddField("mtbPicturesLocation", "Location", ftString, PictureLocationSize)
      .SetDisplayWidth(30);
  Table.AddField("mtbPicturesDate", "Date", ftDateTime);
  Table.AddField("mtbPicturesThumb", "Thumb", ftBlob);
  Table.AddField("mtbPicturesType", "Type", ftString, PictureTypeSize);
  Table.IndexDefs() = {
      {"mtbidxNameLocation", "Name; Location", 0},
      {"mtbidxLocationName", "Location;Name", 0},
      {"mtbidxDateLocationName", "Date;Location;Name", 0},
      {"mtbidxTypeName", "Type;Name", 0},
  };
  Table.SetIndexName("mtbidxNameLocation");
  Table.SetLocaleID(1024);
  Table.SetAttachMaxCount(1);
  Table.SetReadOnly(false);
}

std::unique_ptr<TmtbMemTable> CreatePictureTable() {
  auto Table = std::make_unique<TmtbMemTable>("mtbPictures");
  ConfigurePictureTable(*Table);
  return Table;
}
