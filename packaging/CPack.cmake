# The Debian package, made by "cpack -G DEB" from the install rules: the
# build already knows what goes where, so no second description of the
# files is kept. dpkg-shlibdeps finds the library packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rivulet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RIVULET_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RIVULET_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "import the music you download into your music library")
# The long description: CPack indents its lines and marks the empty one.
set(CPACK_PACKAGE_DESCRIPTION "Rivulet watches your download folders and imports every new music file
into your MPD music library, in the playlist 'Rivulet', once it has
stopped changing. Zip and rar archives are unpacked and their music
imported together.

It lives in the system tray, with a music search that hands a query to
music sites, and a global hotkey that opens it from any application.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# unzip and unar unpack the archives, which is on by default: without them
# every downloaded album fails to import. MPD may run on another machine
# (MPD_HOST), so the local server is only recommended.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unzip, unar")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mpd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
