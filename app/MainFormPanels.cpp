// The main window's plain panel, the splitter between its panes and its status
// bar.

#include "app/MainForm.h"

#include <QLabel>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>
#include <utility>

TPanel::TPanel(QWidget* Parent) : QWidget(Parent) {}

void TPanel::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (OnResize) OnResize();
}

TSplitter::TSplitter(QWidget* Parent) : QWidget(Parent) {
  setCursor(Qt::SplitHCursor);
}

void TSplitter::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  FPressed = true;
  FPressX = static_cast<int>(Event->globalPosition().x());
}

void TSplitter::mouseMoveEvent(QMouseEvent* Event) {
  if (!FPressed) return;
  const int X = static_cast<int>(Event->globalPosition().x());
  if (X != FPressX && OnMoved) OnMoved(X - FPressX);
  FPressX = X;
}

void TSplitter::mouseReleaseEvent(QMouseEvent*) {
  FPressed = false;
}

TStatusBar::TStatusBar(QWidget* Parent, std::vector<int> Widths, int StretchPanel)
    : QWidget(Parent), FWidths(std::move(Widths)), FVisible(FWidths.size(), true),
      FStretch(StretchPanel >= 0 ? StretchPanel : static_cast<int>(FWidths.size()) - 1) {
  for (std::size_t i = 0; i < FWidths.size(); ++i) {
    auto* L = new QLabel(this);
    L->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    L->setTextFormat(Qt::PlainText);
    L->setMargin(1);
    FLabels.push_back(L);
  }
}

bool TStatusBar::PanelVisible(int Index) const {
  return FVisible.at(static_cast<std::size_t>(Index));
}

void TStatusBar::SetPanelVisible(int Index, bool Visible) {
  if (PanelVisible(Index) == Visible) return;
  FVisible.at(static_cast<std::size_t>(Index)) = Visible;
  FLabels[static_cast<std::size_t>(Index)]->setVisible(Visible);
  Arrange();
}

QRect TStatusBar::PanelGeometry(int Index) const {
  return PanelVisible(Index) ? FLabels.at(static_cast<std::size_t>(Index))->geometry() : QRect();
}

QString TStatusBar::PanelText(int Index) const {
  return FLabels.at(static_cast<std::size_t>(Index))->text();
}

void TStatusBar::SetPanelText(int Index, const QString& Text) {
  FLabels.at(static_cast<std::size_t>(Index))->setText(Text);
}

void TStatusBar::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Arrange();
}

void TStatusBar::Arrange() {
  int Fixed = 0;
  for (std::size_t i = 0; i < FLabels.size(); ++i)
    if (FVisible[i] && static_cast<int>(i) != FStretch) Fixed += FWidths[i];
  int Left = 0;
  for (std::size_t i = 0; i < FLabels.size(); ++i) {
    if (!FVisible[i]) continue;
    const int W = static_cast<int>(i) == FStretch ? std::max(0, width() - Fixed) : FWidths[i];
    FLabels[i]->setGeometry(Left, 0, W, height());
    Left += W;
  }
}
