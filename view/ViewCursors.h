#pragma once
// Cursor numbers as the view and its mouse handlers use them, and the
// application-wide ("screen") cursor that overrides every widget's cursor.

#include <QCursor>

using TCursor = int;

constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crHandOpened = 100; // open hand, 32 x 32, hot spot (0, 0)
constexpr TCursor crHandClosed = 101; // closed, grabbing hand

// The Qt cursor for a cursor number; crDefault and unknown numbers give the
// arrow. The two hand cursors are loaded from the program's resources on
// first use (a QGuiApplication must exist).
QCursor CursorFromNumber(TCursor Cursor);

// The application-wide cursor: crDefault when none is set, else the number
// of the cursor set, or crArrow for a cursor this table does not know.
TCursor ScreenCursor();
// Sets (or, with crDefault, removes) the application-wide cursor.
void SetScreenCursor(TCursor Cursor);
