#pragma once
// Option sets, colours and the error class of the picture list grid.

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/Exception.h"

class QColor;
class QPalette;

// A small set over an enumeration whose values are below 32.
template <typename E> class TdagSet {
public:
  constexpr TdagSet() = default;
  constexpr TdagSet(std::initializer_list<E> items) {
    for (E e : items)
      FBits |= Bit(e);
  }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr TdagSet& Include(E e) {
    FBits |= Bit(e);
    return *this;
  }
  constexpr TdagSet& Exclude(E e) {
    FBits &= ~Bit(e);
    return *this;
  }
  constexpr bool operator==(const TdagSet&) const = default;
  constexpr std::uint32_t Bits() const { return FBits; }

private:
  static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
  std::uint32_t FBits = 0;
};

// The grid's own options. The picture list uses the defaults.
enum class TdagAltOption {
  dagAppendCtrlIns,
  dagAutoWidth,
  dagBandLines,
  dagBandResize,
  dagBlankCells,
  dagCellHint,
  dagColumnAltResize,
  dagCtrlMultiSelect,
  dagDiscreteBandHeight,
  dagEnterLikeTab,
  dagExpandedBottomBar,
  dagExpandIcon,
  dagFooter,
  dagLightButtons,
  dagMemoText,
  dagScaleColumns,
  dagStripedBackground,
  dagStripedRows,
  dagTitleFocusRect,
  dagTitlePush
};
using TdagAltOptions = TdagSet<TdagAltOption>;
inline constexpr TdagAltOptions DefaultAltOptions{TdagAltOption::dagBandLines,
                                                  TdagAltOption::dagDiscreteBandHeight};

// The data-aware grid options.
enum class TDBGridOption {
  dgEditing,
  dgAlwaysShowEditor,
  dgTitles,
  dgIndicator,
  dgColumnResize,
  dgColLines,
  dgRowLines,
  dgTabs,
  dgRowSelect,
  dgAlwaysShowSelection,
  dgConfirmDelete,
  dgCancelOnExit,
  dgMultiSelect
};
using TDBGridOptions = TdagSet<TDBGridOption>;
// The options of the picture list.
inline constexpr TDBGridOptions PictureListOptions{TDBGridOption::dgTitles,
                                                   TDBGridOption::dgColumnResize,
                                                   TDBGridOption::dgColLines,
                                                   TDBGridOption::dgRowLines,
                                                   TDBGridOption::dgTabs,
                                                   TDBGridOption::dgRowSelect,
                                                   TDBGridOption::dgAlwaysShowSelection,
                                                   TDBGridOption::dgConfirmDelete,
                                                   TDBGridOption::dgCancelOnExit,
                                                   TDBGridOption::dgMultiSelect};

// Colours are Windows colour values: red in the low byte, then green, then blue.
// Values with the top bit set name a system colour by its index in the low byte.
using TdagColor = std::uint32_t;

namespace dagcl {
inline constexpr TdagColor SystemColor = 0xFF000000;
inline constexpr TdagColor Window = SystemColor | 5;
inline constexpr TdagColor WindowFrame = SystemColor | 6;
inline constexpr TdagColor WindowText = SystemColor | 8;
inline constexpr TdagColor InactiveBorder = SystemColor | 11;
inline constexpr TdagColor Highlight = SystemColor | 13;
inline constexpr TdagColor HighlightText = SystemColor | 14;
inline constexpr TdagColor BtnFace = SystemColor | 15;
inline constexpr TdagColor GrayText = SystemColor | 17;
inline constexpr TdagColor Silver = 12632256; // 0xC0C0C0
inline constexpr TdagColor None = 0x1FFFFFFF; // "no colour": paints nothing different
} // namespace dagcl

// The colour for a colour value; system colours come from the palette.
QColor DagColorToQColor(TdagColor color, const QPalette& palette);

// The grid's colour set.
struct TdagColors {
  TdagColor BandLine = dagcl::Silver;
  TdagColor ColLine = dagcl::Silver;
  TdagColor FixedLine = dagcl::WindowFrame;
  TdagColor FlatBorder = dagcl::BtnFace;
  TdagColor HeaderBlank = dagcl::BtnFace;
  TdagColor Highlight = dagcl::Highlight;
  TdagColor HighlightText = dagcl::HighlightText;
  TdagColor RowBlank = dagcl::Window;
  TdagColor RowLine = dagcl::Silver;
  TdagColor Stripe0 = dagcl::Window;
  TdagColor Stripe1 = 16776176; // red 240, green 251, blue 255
  bool operator==(const TdagColors&) const = default;
};

// Errors of the grid's own operations.
class EInvalidGridOperation : public Exception {
public:
  using Exception::Exception;
};
