#pragma once
// Plays the records of a parsed metafile through QPainter: mapping modes,
// window and viewport, world transform, saved device states, pens, brushes,
// fonts and text, lines, polygons, rectangles, ellipses, arcs, Bezier curves,
// paths, simple clipping and the bitmap records. Records it does not know,
// and records whose fields run past their own length, are skipped; drawing
// goes on with the next record.

#include "platform/MetaFileReader.h"

class QPainter;
class QRectF;

// Plays M onto Painter with the picture's frame (EMF) or window (WMF) mapped
// onto Dest, in the painter's coordinates. The painter's state is restored
// afterwards.
void PlayMetafile(const TMetafileData& M, QPainter& Painter, const QRectF& Dest);
