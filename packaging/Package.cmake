# What an install carries besides the programs and the desktop files (manual pages,
# the package documents) and how `make deb` packs it all into a Debian package.

# Manual pages and the changelog go compressed, as distributions ship them (man reads
# either); -n keeps the bytes the same from build to build.
set(SNAPIX_PACKED_DOCS)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
foreach(doc ${CMAKE_CURRENT_SOURCE_DIR}/doc/snapix.1 ${CMAKE_CURRENT_SOURCE_DIR}/doc/snapix-shot.1
            ${CMAKE_BINARY_DIR}/packaging/changelog)
  get_filename_component(name ${doc} NAME)
  set(packed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${packed} COMMAND sh -c "gzip -9n < '${doc}' > '${packed}'"
    DEPENDS ${doc} VERBATIM)
  list(APPEND SNAPIX_PACKED_DOCS ${packed})
endforeach()
add_custom_target(snapix_packed_docs ALL DEPENDS ${SNAPIX_PACKED_DOCS})
install(FILES ${CMAKE_BINARY_DIR}/packaging/snapix.1.gz ${CMAKE_BINARY_DIR}/packaging/snapix-shot.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `make deb`: one binary package. Its library dependencies come from the programs
# themselves (dpkg-shlibdeps); what they load at run time without linking it is named
# here: the captions' typefaces (a Song face for Chinese, a small sans face) and Qt's
# window-system plugins. Debian's own triggers update the desktop database, the icon
# cache and the manual-page index, so the package needs no maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME snapix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Snapix developers")
set(CPACK_PACKAGE_CONTACT "The Snapix developers <snapix@snapix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera snapshot tool with countdown, series and captions")
set(CPACK_PACKAGE_DESCRIPTION "\
Snapix shows the live picture of a camera and takes photographs from it: on a
button or the F8 key, after a countdown, or in a series at a fixed interval.
Each photograph is stored as a JPEG or BMP file named by a prefix and the date
and time or a serial number. Before it is stored it can be scaled, turned to
black and white, stamped with captions and the date and time, and encoded at a
JPEG quality or within a size in kilobytes. A cutting panel makes one-inch and
two-inch identity photos. The interface is in simplified Chinese.
.
The command-line tool snapix-shot takes the same photographs without a window
or a desktop session, from scripts, cron or over SSH.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# opencv-data: the face and eye cascades identity photos are framed with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, fonts-dejavu-core, opencv-data, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
