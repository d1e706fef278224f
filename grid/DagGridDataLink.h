#pragma once
// The grid's link to the table: asks for as many record buffers as the grid
// shows rows and passes every notification on to the grid.

#include "table/MemTable.h"

class TCustomDbAltGrid;

class TdagGridDataLink : public TDataLink {
public:
  explicit TdagGridDataLink(TCustomDbAltGrid& grid) : FGrid(grid) {}

protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;

private:
  TCustomDbAltGrid& FGrid;
};
