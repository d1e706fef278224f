# HEIF (HEIC, AVIF) through libheif and JPEG XL through libjxl.
list(APPEND FORMATS_SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegisterHeifJxl.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/HeifGraphic.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/HeifBoxes.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/JxlGraphic.cpp)
