# The GDI stand-ins: DIB memory, 1:1 copy and stretching, the canvas,
# platform bitmaps, clipboard bitmaps and the platform's picture reader.
list(APPEND PLATFORM_QT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Dib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DibStretch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DibBuffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Canvas.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Bitmap.cpp
)
