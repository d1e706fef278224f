# cmake --install puts the program, its icons, its desktop entry, its AppStream
# metainfo and its manual page where a desktop finds them (below
# CMAKE_INSTALL_PREFIX, /usr/local by default). cpack -G DEB packs the same.
include(GNUInstallDirs)
install(TARGETS TobbinsImbrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tobbins-imbrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icon/tobbins-imbrel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tobbins-imbrel.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/org.tobbins_imbrel.viewer.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page, compressed the way Debian installs them.
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  set(IMBREL_MAN_PAGE ${PROJECT_BINARY_DIR}/man/TobbinsImbrel.1.gz)
  add_custom_command(
    OUTPUT ${IMBREL_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/resources/man/TobbinsImbrel.1
            > ${IMBREL_MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/man/TobbinsImbrel.1
    VERBATIM)
  add_custom_target(man_page ALL DEPENDS ${IMBREL_MAN_PAGE})
else()
  set(IMBREL_MAN_PAGE ${PROJECT_SOURCE_DIR}/resources/man/TobbinsImbrel.1)
endif()
install(FILES ${IMBREL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: its dependencies come from the shared libraries the
# program links (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tobbins-imbrel)
set(CPACK_PACKAGE_VENDOR "The Tobbins' Imbrel developers")
set(CPACK_PACKAGE_CONTACT "The Tobbins' Imbrel developers <developers@tobbins-imbrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue a folder tree of pictures and view them")
set(CPACK_PACKAGE_DESCRIPTION
    "Tobbins' Imbrel walks a whole folder tree, lists every picture it finds with its name,\n"
    "location, date and type, and shows the selected picture full screen, one by one or as\n"
    "a slide show. It reads BMP, PCX, DCX, Targa, TIFF, PNG, JPEG, icons and Windows metafiles.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tobbins-imbrel.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
