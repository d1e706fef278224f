#include "Formats.h"

// Placeholder until this group's format classes exist; replaced by their
// registration rows.
void RegisterLibraryFormats() {}
