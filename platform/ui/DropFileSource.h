#pragma once
// Dragging files out of the program: the drag source that offers a list of
// files to other programs (copy only), and the drag detection that decides
// whether a press turns into a drag.

#include <QPoint>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMimeData;
class QMouseEvent;
class QWidget;

enum TDragType : uint32_t { dtCopy = 1, dtMove = 2, dtLink = 4 };
using TDragTypes = uint32_t;

enum class TDragResult { drDropCopy, drDropMove, drDropLink, drCancel, drOutMemory, drUnknown };

class TDropFileSource {
public:
  // Full paths, in the order they are offered.
  std::vector<std::string> Files;
  // Never filled by this program; offered only when not empty.
  std::vector<std::string> MappedNames;
  TDragTypes DragTypes = dtCopy;

  // The data offered to drop targets: "text/uri-list" with every file in
  // order and "text/plain" with the first path; nothing when Files is empty.
  // The caller owns the result.
  QMimeData* CreateMimeData() const;

  // Runs the modal drag-and-drop loop from Source with the allowed effects.
  TDragResult Execute(QWidget* Source);

  // Replaces the modal loop (tests); receives the data that would be offered.
  std::function<TDragResult(QMimeData* Data)> ExecuteHook;
};

// Watches the mouse after a left-button press at Point (in W's coordinates):
// true when the mouse leaves the drag rectangle around the press point (the
// platform's drag distance in every direction) at least 200 ms after the
// detection started, with a button still down; false when a button is
// released or the detection is cancelled first. Runs a local event loop;
// every other event is dispatched as usual. When EndingRelease is given, the
// button release that ends a detection without a drag is kept from W and
// handed back, so the caller can deliver it after the press it belongs to.
bool DragDetect(QWidget* W, QPoint Point, std::unique_ptr<QMouseEvent>* EndingRelease = nullptr);
