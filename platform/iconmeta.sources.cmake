# The platform's icon and metafile objects: bitmap decoding shared by both, the
# icon reader and writer, the metafile parser, its QPainter player and the
# metafile object with its recording canvas.
list(APPEND PLATFORM_QT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/IconMetaDib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Icon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFileReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFilePlayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFilePlayerContext.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFilePlayerDrawing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFilePlayerWmf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFilePlayerEmf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFile.cpp
)
