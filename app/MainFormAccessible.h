#pragma once
// What assistive technology sees of the main window: a window (a frame, named
// by its title, active while it has the input focus) whose status bar has the
// status-bar role and whose panels are labels, each read by the text it shows
// and described by what it is for, and whose picture view is an image (the
// graphic role) named by the shown picture's status text.

#include <QString>
#include <vector>

class QWidget;
class TStatusBar;

// Gives the main window the window role, the status bar its role and each
// panel, from the left, its description.
void DescribeStatusBar(TStatusBar& bar, const std::vector<QString>& panelDescriptions);

// Names and describes the picture view. A new name is announced (a
// name-change event); Announce announces an unchanged one as well. The
// description changes first, so that it is current when the name is read.
// Answers whether a name change was announced.
bool DescribeAccessibly(QWidget& view, const QString& name, const QString& description,
                        bool announce);
