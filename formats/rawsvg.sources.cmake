# Camera RAW through libraw and SVG through the platform's SVG object.
list(APPEND FORMATS_SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegisterRawSvg.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/RawGraphic.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/SvgGraphic.cpp)
