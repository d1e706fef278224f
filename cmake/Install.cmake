# cmake --install puts the program, its icon and its desktop entry where a
# desktop finds them (below CMAKE_INSTALL_PREFIX, /usr/local by default).
include(GNUInstallDirs)
if(TARGET TobbinsImbrel)
  install(TARGETS TobbinsImbrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tobbins-imbrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icon/tobbins-imbrel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tobbins-imbrel.png)
endforeach()
