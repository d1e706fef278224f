#pragma once
// What assistive technology sees of the main window's status bar: an object
// with the status-bar role whose panels are labels, each read by the text it
// shows and described by what it is for.

#include <QString>
#include <vector>

class TStatusBar;

// Gives the status bar its role and each panel, from the left, its description.
void DescribeStatusBar(TStatusBar& bar, const std::vector<QString>& panelDescriptions);
