# cmake --install puts the program, its icons, its desktop entry, its AppStream
# metainfo, its MIME type definitions, its manual page and its copyright and
# changelog where a desktop and Debian's tools find them (below
# CMAKE_INSTALL_PREFIX, /usr/local by default). cpack -G DEB packs the same.
include(GNUInstallDirs)
set(IMBREL_PACKAGE_NAME tobbins-imbrel)
install(TARGETS TobbinsImbrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped program (the package's) also loses the compilers' version notes,
# as Debian's own strip step removes them.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/TobbinsImbrel\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tobbins-imbrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icon/tobbins-imbrel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tobbins-imbrel.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/org.tobbins_imbrel.viewer.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Types for the picture files the shared MIME database does not know (DCX and
# more extensions of known types); the database is rebuilt by its own trigger.
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tobbins-imbrel.mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${IMBREL_PACKAGE_NAME}.xml)
# The copyright in Debian's machine-readable format, where every package keeps it.
set(IMBREL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${IMBREL_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/copyright DESTINATION ${IMBREL_DOC_DIR})

# The manual page and the changelog, compressed the way Debian installs them
# (gzip -9n: no name or time stamp, so the same text gives the same bytes).
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  set(IMBREL_MAN_PAGE ${PROJECT_BINARY_DIR}/man/TobbinsImbrel.1.gz)
  set(IMBREL_CHANGELOG ${PROJECT_BINARY_DIR}/doc/changelog.gz)
  add_custom_command(
    OUTPUT ${IMBREL_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/resources/man/TobbinsImbrel.1
            > ${IMBREL_MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/man/TobbinsImbrel.1
    VERBATIM)
  add_custom_command(
    OUTPUT ${IMBREL_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/resources/package/changelog
            > ${IMBREL_CHANGELOG}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/package/changelog
    VERBATIM)
  add_custom_target(man_page ALL DEPENDS ${IMBREL_MAN_PAGE} ${IMBREL_CHANGELOG})
  install(FILES ${IMBREL_CHANGELOG} DESTINATION ${IMBREL_DOC_DIR})
else()
  set(IMBREL_MAN_PAGE ${PROJECT_SOURCE_DIR}/resources/man/TobbinsImbrel.1)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/package/changelog DESTINATION ${IMBREL_DOC_DIR})
endif()
install(FILES ${IMBREL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: its dependencies come from the shared libraries the
# program links (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${IMBREL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Tobbins' Imbrel developers")
set(CPACK_PACKAGE_CONTACT "The Tobbins' Imbrel developers <developers@tobbins-imbrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue a folder tree of pictures and view them")
# The long description, in lines of at most 79 characters (a terminal's 80
# with the space the control file puts before each).
set(CPACK_PACKAGE_DESCRIPTION
    "Tobbins' Imbrel walks a whole folder tree, lists every picture it finds\n"
    "with its name, location, date and type, and shows the selected picture full\n"
    "screen, one by one or as a slide show. It reads BMP, PCX, DCX, Targa, TIFF,\n"
    "PNG, JPEG, icons and Windows metafiles.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tobbins-imbrel.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
