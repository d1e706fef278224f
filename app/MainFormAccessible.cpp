#include "app/MainFormAccessible.h"

#include <QAccessibleWidget>
#include <QLabel>

#include "app/MainForm.h"
#include "view/ImageScrollBox.h"

namespace {

// The main window is a plain top-level widget, which Qt presents as a mere
// "filler"; screen readers look for a window (a frame).
QAccessibleInterface* MainFormFactory(const QString&, QObject* object) {
  if (auto* bar = dynamic_cast<TStatusBar*>(object))
    return new QAccessibleWidget(bar, QAccessible::StatusBar);
  if (auto* form = dynamic_cast<TfrmMain*>(object))
    return new QAccessibleWidget(form, QAccessible::Window);
  // The picture view is read as an image, not as a plain filler.
  if (auto* view = dynamic_cast<TImageScrollBox*>(object))
    return new QAccessibleWidget(view, QAccessible::Graphic);
  return nullptr;
}

void InstallFactory() {
  static const bool installed = [] {
    QAccessible::installFactory(MainFormFactory);
    return true;
  }();
  (void)installed;
}

} // namespace

void DescribeStatusBar(TStatusBar& bar, const std::vector<QString>& panelDescriptions) {
  InstallFactory();
  // The panels are the bar's labels in the order they were made, left to right.
  const QList<QLabel*> panels = bar.findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  for (qsizetype i = 0; i < panels.size() && i < static_cast<qsizetype>(panelDescriptions.size());
       ++i)
    panels[i]->setAccessibleDescription(panelDescriptions[static_cast<std::size_t>(i)]);
}

bool DescribeAccessibly(QWidget& view, const QString& name, const QString& description,
                        bool announce) {
  InstallFactory();
  if (view.accessibleDescription() != description) view.setAccessibleDescription(description);
  if (view.accessibleName() != name) {
    view.setAccessibleName(name); // sends the name-change event
    return true;
  }
  if (!announce) return false;
  QAccessibleEvent event(&view, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
  return true;
}
