# The platform's SVG object: Qt's SVG renderer behind a check of the document.
list(APPEND PLATFORM_QT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SvgDocument.cpp
)
