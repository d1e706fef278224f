list(APPEND FORMATS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/RegisterIconMeta.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IconGraphic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetaFileGraphic.cpp
)
