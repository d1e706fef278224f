#include "grid/DagColumns.h"

#include <algorithm>

#include "grid/DbAltGrid.h"

QString TdagColumnTitle::Caption() const {
  if (FCaption) return *FCaption;
  return FColumn.FDefaultCaption.isEmpty() ? FColumn.FieldName() : FColumn.FDefaultCaption;
}

void TdagColumnTitle::SetCaption(const QString& caption) {
  if (FCaption && *FCaption == caption) return;
  FCaption = caption;
  FColumn.Changed(false);
}

QFont TdagColumnTitle::Font() const {
  if (FFont) return *FFont;
  return FColumn.Grid() ? FColumn.Grid()->TitleFont() : QFont();
}

void TdagColumnTitle::SetFont(const QFont& font) {
  FFont = font;
  FColumn.Changed(true);
}

void TdagColumnTitle::RestoreDefaults() {
  FCaption.reset();
  FFont.reset();
}

void TdagColumn::SetFieldName(const QString& name) {
  if (name == FFieldName) return;
  FFieldName = name;
  Changed(true);
}

void TdagColumn::SetWidth(int width) {
  width = std::max(0, width);
  if (FWidth && *FWidth == width) return;
  FWidth = width;
  Changed(true);
}

void TdagColumn::SetAlignment(Qt::Alignment alignment) {
  FAlignment = alignment;
  Changed(false);
}

TdagColor TdagColumn::Color() const {
  if (FColor) return *FColor;
  return FGrid ? FGrid->Color() : dagcl::Window;
}

void TdagColumn::SetColor(TdagColor color) {
  FColor = color;
  Changed(false);
}

QFont TdagColumn::Font() const {
  if (FFont) return *FFont;
  return FGrid ? FGrid->font() : QFont();
}

void TdagColumn::SetFont(const QFont& font) {
  FFont = font;
  Changed(true);
}

void TdagColumn::SetSortMarker(unsigned marker) {
  if (marker == FSortMarker) return;
  FSortMarker = marker;
  Changed(false);
}

void TdagColumn::RestoreDefaults() {
  FTitle.RestoreDefaults();
  FWidth.reset();
  FAlignment.reset();
  FColor.reset();
  FFont.reset();
  FSortMarker = 0;
  Changed(true);
}

int TdagColumn::Index() const {
  return FGrid ? FGrid->Columns().IndexOf(this) : -1;
}

void TdagColumn::Changed(bool layout) {
  if (FGrid) FGrid->ColumnChanged(layout);
}

TdagColumn& TdagColumns::Add() {
  // Columns made from the fields give way to the owner's own.
  if (FGrid && FGrid->FAutoColumns) {
    FItems.clear();
    FGrid->FAutoColumns = false;
  }
  FItems.push_back(std::make_unique<TdagColumn>(FGrid));
  if (FGrid) FGrid->ColumnChanged(true);
  return *FItems.back();
}

void TdagColumns::Clear() {
  FItems.clear();
  if (FGrid) FGrid->ColumnChanged(true);
}

void TdagColumns::Move(int from, int to) {
  const int n = Count();
  if (from < 0 || from >= n || to < 0 || to >= n || from == to) return;
  auto item = std::move(FItems[static_cast<std::size_t>(from)]);
  FItems.erase(FItems.begin() + from);
  FItems.insert(FItems.begin() + to, std::move(item));
  if (FGrid) FGrid->ColumnChanged(true);
}

int TdagColumns::IndexOf(const TdagColumn* column) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == column) return static_cast<int>(i);
  return -1;
}
