#pragma once
// Registers every format class of the image library with the format registry.
// Safe to call more than once; only the first call registers.
void RegisterImageFormats();

// The groups of format classes, each registering its own rows.
void RegisterBmmFormats();      // BMP, PCX, PCC, DCX, TGA, VST, AFI
void RegisterLibraryFormats();  // JPG, JPEG, PNG, TIF, TIFF
void RegisterIconMetaFormats(); // ICO, WMF, EMF
void RegisterGifWebPFormats();  // GIF, WEBP
void RegisterHeifJxlFormats();  // HEIC, HEIF, HIF, AVIF, JXL
void RegisterRawSvgFormats();   // camera RAW (DNG, CR2, NEF, ...), SVG, SVGZ
