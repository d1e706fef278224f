list(APPEND FORMATS_SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegisterGifWebP.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/GifGraphic.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/WebPGraphic.cpp)
