# The Debian package, made by CPack's DEB generator (tools/package.sh runs it):
# build/corvanta_<version>_<arch>.deb, installing under /usr.

# What the programs need at run time without linking it; what they link is found
# by dpkg-shlibdeps. A new run-time need (data files, plugins) is appended here.
list(APPEND CORVANTA_RUNTIME_DEPENDS
  qt6-translations-l10n       # Qt's own dialogs and menus in Italian
  libsane1                    # the scanner backends our source manager drives
  qt6-image-formats-plugins   # pictures Qt reads through plugins (WebP, ...)
)
list(APPEND CORVANTA_RUNTIME_RECOMMENDS
  "evince | okular | atril | qpdfview | pdf-viewer"  # opens the manual
  sane-utils                                        # scanimage, sane-find-scanner, saned
  xdg-utils                                         # how Qt hands the manual to the viewer
)
list(REMOVE_DUPLICATES CORVANTA_RUNTIME_DEPENDS)
list(JOIN CORVANTA_RUNTIME_DEPENDS ", " _depends)
list(JOIN CORVANTA_RUNTIME_RECOMMENDS ", " _recommends)

find_program(CORVANTA_DPKG dpkg)
if(CORVANTA_DPKG)
  execute_process(COMMAND ${CORVANTA_DPKG} --print-architecture
    OUTPUT_VARIABLE CORVANTA_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  set(CORVANTA_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvanta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lodrevan S.r.l.")
set(CPACK_PACKAGE_CONTACT "Lodrevan S.r.l. <assistenza@lodrevan.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cuts the identity photo and signature out of a scanned form")
set(CPACK_PACKAGE_DESCRIPTION
  "Corvanta turns a scanned form, or a photo of a document, into the two small\n\
pictures an administrative portal asks for: the identity photo (33 x 40 mm)\n\
and the signature (30 x 6 mm), as JPEG files under the portal's size limits\n\
at 200 dots per inch. It scans through SANE or opens picture files, frames\n\
and straightens on a zoomable view, and retouches each crop. The interface\n\
is in Italian.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.lodrevan.example/corvanta")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_FILE_NAME corvanta_${PROJECT_VERSION}_${CORVANTA_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME ${CPACK_PACKAGE_FILE_NAME}.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CORVANTA_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_depends}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${_recommends}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only what the install rules name goes in: no test or benchmark leftovers.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Corvanta;ALL;/")
include(CPack)
