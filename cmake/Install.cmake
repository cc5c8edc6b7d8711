# What `cmake --install` (and the package) puts where. The folders come from
# cmake/Layout.cmake, which also compiles their relative places into the program.

# Every program installed into bin/: a new executable target is appended here
# (list(APPEND CORVANTA_PROGRAMS corvanta-batch)) before this file is included.
list(APPEND CORVANTA_PROGRAMS corvanta)
list(REMOVE_DUPLICATES CORVANTA_PROGRAMS)
install(TARGETS ${CORVANTA_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Loaded by path with dlopen, never linked: no run path needed, and a library
# that is not a program is not executable.
install(TARGETS corvanta_dsm
  LIBRARY DESTINATION ${CORVANTA_INSTALL_PRIVLIBDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES ${CMAKE_BINARY_DIR}/corvanta.pdf DESTINATION ${CORVANTA_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CORVANTA_INSTALL_DOCDIR})

# --- changelog -> AppStream releases --------------------------------------------
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md _changelog ENCODING UTF-8)
set(CORVANTA_METAINFO_RELEASES "")
set(_release_open FALSE)
set(_release_found FALSE)
foreach(line IN LISTS _changelog)
  if(line MATCHES "^## ([0-9][0-9.]*) - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
    if(_release_open)
      string(APPEND CORVANTA_METAINFO_RELEASES "        </ul>\n      </description>\n    </release>\n")
    endif()
    if(CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
      set(_release_found TRUE)
      set(CORVANTA_RELEASE_DATE ${CMAKE_MATCH_2})
    endif()
    string(APPEND CORVANTA_METAINFO_RELEASES
      "    <release version=\"${CMAKE_MATCH_1}\" date=\"${CMAKE_MATCH_2}\">\n      <description>\n        <ul>\n")
    set(_release_open TRUE)
  elseif(_release_open AND line MATCHES "^- (.+)$")
    set(_item "${CMAKE_MATCH_1}")
    string(REPLACE "&" "&amp;" _item "${_item}")
    string(REPLACE "<" "&lt;" _item "${_item}")
    string(REPLACE ">" "&gt;" _item "${_item}")
    string(REPLACE "`" "" _item "${_item}")
    string(APPEND CORVANTA_METAINFO_RELEASES "          <li>${_item}</li>\n")
  endif()
endforeach()
if(_release_open)
  string(APPEND CORVANTA_METAINFO_RELEASES "        </ul>\n      </description>\n    </release>")
endif()
if(NOT _release_found)
  message(FATAL_ERROR "CHANGELOG.md has no entry \"## ${PROJECT_VERSION} - YYYY-MM-DD\" for the project version")
endif()

# --- desktop entry, icons, metadata ------------------------------------------------
set(_pkg ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/corvanta.desktop.in ${_pkg}/${CORVANTA_APP_ID}.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/corvanta.metainfo.xml.in ${_pkg}/${CORVANTA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_pkg}/${CORVANTA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${_pkg}/${CORVANTA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${CORVANTA_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
  RENAME ${CORVANTA_APP_ID}.svg)
foreach(s IN LISTS CORVANTA_ICON_SIZES)
  install(FILES ${CORVANTA_ICON_DIR}/${s}x${s}/corvanta.png
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${s}x${s}/apps RENAME ${CORVANTA_APP_ID}.png)
endforeach()
