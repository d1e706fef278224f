#include "StatusBarAccessible.h"

#include <QAccessibleWidget>
#include <QLabel>

#include "MainForm.h"

namespace {

class TStatusBarAccessible : public QAccessibleWidget {
public:
  explicit TStatusBarAccessible(QWidget* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
};

QAccessibleInterface* StatusBarFactory(const QString&, QObject* object) {
  if (auto* bar = dynamic_cast<TStatusBar*>(object)) return new TStatusBarAccessible(bar);
  return nullptr;
}

} // namespace

void DescribeStatusBar(TStatusBar& bar, const std::vector<QString>& panelDescriptions) {
  static const bool installed = [] {
    QAccessible::installFactory(StatusBarFactory);
    return true;
  }();
  (void)installed;
  // The panels are the bar's labels in the order they were made, left to right.
  const QList<QLabel*> panels = bar.findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  for (qsizetype i = 0; i < panels.size() && i < static_cast<qsizetype>(panelDescriptions.size());
       ++i)
    panels[i]->setAccessibleDescription(panelDescriptions[static_cast<std::size_t>(i)]);
}
