# What "make install" and the Debian package put on the system besides the
# program: desktop entry, icons, AppStream metadata, manual page, and the
# package's own documents.
include(GNUInstallDirs)

set(RIVULET_DATA ${CMAKE_SOURCE_DIR}/data)
set(RIVULET_GENERATED ${CMAKE_BINARY_DIR}/packaging)
set(RIVULET_PACKAGE_MAINTAINER "Rivulet developers <rivulet@example.org>" CACHE STRING "Maintainer named in the Debian package")

install(FILES ${RIVULET_DATA}/rivulet.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${RIVULET_DATA}/icons/rivulet.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG sizes are drawn from the SVG: rsvg-convert -w N -h N data/icons/rivulet.svg
foreach(size 16 22 24 32 48 64 128 256 512)
  install(FILES ${RIVULET_DATA}/icons/${size}x${size}/rivulet.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

configure_file(${RIVULET_DATA}/app.rivulet.Rivulet.metainfo.xml ${RIVULET_GENERATED}/app.rivulet.Rivulet.metainfo.xml @ONLY)
install(FILES ${RIVULET_GENERATED}/app.rivulet.Rivulet.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual page and changelog, compressed the way Debian wants them (gzip -9n).
configure_file(${RIVULET_DATA}/rivulet.1 ${RIVULET_GENERATED}/rivulet.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${RIVULET_GENERATED}/changelog @ONLY)
add_custom_command(OUTPUT ${RIVULET_GENERATED}/rivulet.1.gz ${RIVULET_GENERATED}/changelog.gz
  COMMAND gzip -9nc ${RIVULET_GENERATED}/rivulet.1 > ${RIVULET_GENERATED}/rivulet.1.gz
  COMMAND gzip -9nc ${RIVULET_GENERATED}/changelog > ${RIVULET_GENERATED}/changelog.gz
  DEPENDS ${RIVULET_GENERATED}/rivulet.1 ${RIVULET_GENERATED}/changelog
  COMMENT "Compressing the manual page and the changelog")
add_custom_target(rivulet_docs ALL DEPENDS ${RIVULET_GENERATED}/rivulet.1.gz ${RIVULET_GENERATED}/changelog.gz)
add_dependencies(rivulet rivulet_docs)
install(FILES ${RIVULET_GENERATED}/rivulet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${RIVULET_GENERATED}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rivulet)
