#pragma once
// Declarations shared by the files that make up the main window (MainForm*.cpp):
// the designed sizes of the window and its panes, the caption, and the number
// format of the status texts. MainForm.cpp holds construction, layout and
// start-up; MainFormPanels.cpp the panel, splitter and status bar widgets;
// MainFormCatalogue.cpp the folder scan and the sort order; MainFormDisplay.cpp
// showing pictures, zoom, pages and the status texts; MainFormNavigation.cpp
// stepping, decoding ahead, slide show and full screen; MainFormKeys.cpp the
// key map and the popup menu; MainFormFolder.cpp the folder picker;
// MainFormDrag.cpp dragging pictures out and the About entry;
// MainFormAccessible.cpp what screen readers are told.

#include <QString>

namespace mainform {

// Designed bounds of the window and sizes of the panes.
constexpr int DesignedLeft = 356;
constexpr int DesignedTop = 159;
constexpr int DesignedWidth = 607;
constexpr int DesignedHeight = 446;
constexpr int DefaultListWidth = 200; // windowed pane width when none was saved
constexpr int SplitterWidth = 5;
constexpr int StatusBarHeight = 19;
constexpr int ListTopHeight = 25;
constexpr int SplitterMinSize = 30;

const char* const MainCaption = "Tobbins' Imbrel";

inline QString Num(long long Value) {
  return QString::number(Value);
}

} // namespace mainform
