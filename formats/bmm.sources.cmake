# The bitmap module (BMP, PCX, Targa) is an object library of its own: it needs
# only the streams, so its tests and fuzz targets can use it alone. The formats
# library takes its objects.
add_library(bitmap_module OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_module/Bmm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_module/BmmBmp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_module/BmmPcx.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_module/BmmTga.cpp
)
target_include_directories(bitmap_module PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bitmap_module PUBLIC platform_core)

list(APPEND FORMATS_SOURCES
  $<TARGET_OBJECTS:bitmap_module>
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_module/BmmBridge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BitmapGraphic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PcxGraphic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DcxGraphic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TgaGraphic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegisterBmm.cpp
)
