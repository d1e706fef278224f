// Shows the picture list grid over a table of generated records.
//   griddemo [--records N] [--select] [--markers] [--grab FILE.png] [--size WxH]
// --markers shows every sort glyph and a caption too long for its column.
// With --grab the grid is drawn into FILE.png and the program ends.

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "grid/DbAltGrid.h"
#include "table/MemTable.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int records = 300;
  int width = 760, height = 520;
  bool select = false;
  bool markers = false;
  const char* grab = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--records") && i + 1 < argc)
      records = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--grab") && i + 1 < argc)
      grab = argv[++i];
    else if (!std::strcmp(argv[i], "--select"))
      select = true;
    else if (!std::strcmp(argv[i], "--markers"))
      markers = true;
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc)
      std::sscanf(argv[++i], "%dx%d", &width, &height);
  }
  auto table = CreatePictureTable();
  table->Open();
  table->DisableControls();
  static const char* const types[] = {"jpg", "png", "tif", "bmp", "pcx", "tga"};
  char name[64];
  for (int i = 0; i < records; ++i) {
    const char* type = types[i % 6];
    std::snprintf(name, sizeof name, "Holiday picture %04d.%s", i + 1, type);
    table->Insert();
    table->FieldByName("Name").SetAsString(name);
    table->FieldByName("Location")
        .SetAsString(i % 3 ? "/home/anna/Pictures/2019 summer/" : "/home/anna/Pictures/");
    table->FieldByName("Date").SetAsDateTime(
        EncodeDateTime(2019, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 50));
    table->FieldByName("Type").SetAsString(type);
    table->Post();
  }
  table->EnableControls();
  table->First();

  TDataSource source("dsPictures");
  source.SetDataSet(table.get());
  TDbAltGrid grid;
  for (const char* field : {"Name", "Location", "Date", "Type"})
    grid.Columns().Add().SetFieldName(QString::fromLatin1(field));
  grid.Columns()[0].SetSortMarker(1);
  grid.SetDataSource(&source);
  grid.resize(width, height);
  grid.OnTitleClick = [&](TdagColumn& column) {
    for (int i = 0; i < grid.Columns().Count(); ++i)
      grid.Columns()[i].SetSortMarker(0);
    column.SetSortMarker(column.FieldName() == "Date" ? 2 : 1);
  };
  grid.show();
  grid.setFocus();
  if (markers) {
    grid.Columns()[0].SetSortMarker(2);
    grid.Columns()[1].SetSortMarker(3);
    grid.Columns()[1].Title().SetCaption(
        "Location of the picture file on the disk, a long caption");
    grid.Columns()[2].SetSortMarker(4);
    grid.Columns()[3].SetSortMarker(7);
  }
  if (select) {
    table->SetRecNo(3);
    grid.SelectedRows().SetCurrentRowSelected(true);
    table->SetRecNo(5);
    grid.SelectedRows().SetCurrentRowSelected(true);
    table->SetRecNo(6);
    grid.SelectedRows().SetCurrentRowSelected(true);
    table->SetRecNo(9);
  }
  if (grab) {
    QApplication::processEvents();
    const bool ok = grid.grab().save(QString::fromLocal8Bit(grab));
    return ok ? 0 : 1;
  }
  const int rc = app.exec();
  return rc;
}
