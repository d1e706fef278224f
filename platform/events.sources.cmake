# The framework's timers and event loop for code outside the widgets.
list(APPEND PLATFORM_QT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Timer.cpp
)
