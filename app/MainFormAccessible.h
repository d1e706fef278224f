#pragma once
// What assistive technology sees of the main window: a window (a frame, named
// by its title, active while it has the input focus) whose status bar has the
// status-bar role and whose panels are labels, each read by the text it shows
// and described by what it is for.

#include <QString>
#include <vector>

class TStatusBar;

// Gives the main window the window role, the status bar its role and each
// panel, from the left, its description.
void DescribeStatusBar(TStatusBar& bar, const std::vector<QString>& panelDescriptions);
