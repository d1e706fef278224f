list(APPEND FORMATS_SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegisterLib.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/ExifReader.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/JpegGraphic.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/PngGraphic.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/TiffGraphic.cpp)
