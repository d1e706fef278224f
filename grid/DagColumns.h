#pragma once
// The grid's columns: each is bound to a table field by name and has a title.

#include <QFont>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "grid/DagTypes.h"

class TCustomDbAltGrid;
class TdagColumn;

// A column's title: caption (by default the field's display name) and font.
class TdagColumnTitle {
public:
  explicit TdagColumnTitle(TdagColumn& column) : FColumn(column) {}
  QString Caption() const;
  void SetCaption(const QString& caption);
  bool CaptionAssigned() const { return FCaption.has_value(); }
  QFont Font() const;
  void SetFont(const QFont& font);
  void RestoreDefaults();

private:
  TdagColumn& FColumn;
  std::optional<QString> FCaption;
  std::optional<QFont> FFont;
};

class TdagColumn {
public:
  explicit TdagColumn(TCustomDbAltGrid* grid) : FGrid(grid) {}
  TdagColumn(const TdagColumn&) = delete;
  TdagColumn& operator=(const TdagColumn&) = delete;

  QString FieldName() const { return FFieldName; }
  void SetFieldName(const QString& name);

  TdagColumnTitle& Title() { return FTitle; }
  const TdagColumnTitle& Title() const { return FTitle; }

  // Width of the cell in pixels, without the column line.
  int Width() const { return FWidth.value_or(FDefaultWidth); }
  void SetWidth(int width);
  bool WidthAssigned() const { return FWidth.has_value(); }

  Qt::Alignment Alignment() const { return FAlignment.value_or(FFieldAlignment); }
  void SetAlignment(Qt::Alignment alignment);
  TdagColor Color() const;
  void SetColor(TdagColor color);
  QFont Font() const;
  void SetFont(const QFont& font);

  // Which sort glyph the title shows: 0 none, 1 ascending, 2 descending,
  // 3 and 4 the available-ascending/-descending chevrons, 5 and above both.
  unsigned SortMarker() const { return FSortMarker; }
  void SetSortMarker(unsigned marker);

  // Back to the field's defaults: caption, width, alignment, colour, font; marker 0.
  void RestoreDefaults();

  TCustomDbAltGrid* Grid() const { return FGrid; }
  int Index() const;

private:
  friend class TCustomDbAltGrid;
  friend class TdagColumnTitle;
  void Changed(bool layout);

  TCustomDbAltGrid* FGrid;
  QString FFieldName;
  TdagColumnTitle FTitle{*this};
  std::optional<int> FWidth;
  std::optional<Qt::Alignment> FAlignment;
  std::optional<TdagColor> FColor;
  std::optional<QFont> FFont;
  unsigned FSortMarker = 0;
  // Filled by the grid from the bound field.
  int FDefaultWidth = 64;
  QString FDefaultCaption;
  Qt::Alignment FFieldAlignment = Qt::AlignLeft;
  int FFieldIndex = -1; // the bound field of the table, -1 when none
};

// The ordered column list of a grid.
class TdagColumns {
public:
  explicit TdagColumns(TCustomDbAltGrid* grid) : FGrid(grid) {}
  int Count() const { return static_cast<int>(FItems.size()); }
  TdagColumn& operator[](int index) { return *FItems.at(static_cast<std::size_t>(index)); }
  const TdagColumn& operator[](int index) const {
    return *FItems.at(static_cast<std::size_t>(index));
  }
  TdagColumn& Items(int index) { return (*this)[index]; }
  TdagColumn& Add();
  void Clear();
  // Moves the column at from to position to; both must be valid indexes.
  void Move(int from, int to);
  int IndexOf(const TdagColumn* column) const;

private:
  friend class TCustomDbAltGrid;
  TCustomDbAltGrid* FGrid;
  std::vector<std::unique_ptr<TdagColumn>> FItems;
};
