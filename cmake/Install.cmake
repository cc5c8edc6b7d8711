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

# --- changelog -> AppStream releases and the Debian changelog ------------------------
# Debian wants its own changelog format in the package's documentation folder; it is
# made from the same entries, each change one item wrapped at 76 columns.
function(_corvanta_deb_item out text)
  string(REPLACE "`" "" text "${text}")
  string(REGEX MATCHALL "[^ ]+" _words "${text}")
  set(_lines "")
  set(_line "  *")
  foreach(w IN LISTS _words)
    string(LENGTH "${_line} ${w}" _len)
    if(_len GREATER 76 AND NOT _line STREQUAL "  *" AND NOT _line STREQUAL "   ")
      string(APPEND _lines "${_line}\n")
      set(_line "   ")
    endif()
    string(APPEND _line " ${w}")
  endforeach()
  set(${out} "${_lines}${_line}\n" PARENT_SCOPE)
endfunction()
set(CORVANTA_DEBIAN_CHANGELOG "")

# Semicolons would split CMake's list of lines: they travel as a placeholder.
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md _changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
string(REPLACE ";" "@SEMICOLON@" _changelog "${_changelog}")
string(REPLACE "\n" ";" _changelog "${_changelog}")
set(CORVANTA_METAINFO_RELEASES "")
set(_release_open FALSE)
set(_release_found FALSE)
foreach(line IN LISTS _changelog)
  if(line MATCHES "^## ([0-9][0-9.]*) - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
    if(_release_open)
      string(APPEND CORVANTA_METAINFO_RELEASES "        </ul>\n      </description>\n    </release>\n")
      string(APPEND CORVANTA_DEBIAN_CHANGELOG "${_deb_trailer}")
    endif()
    set(_version "${CMAKE_MATCH_1}")
    set(_date "${CMAKE_MATCH_2}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -R -d "${_date} 12:00"
      OUTPUT_VARIABLE _rfc_date OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(CMAKE_MATCH_1 "${_version}")
    set(CMAKE_MATCH_2 "${_date}")
    if(CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
      set(_release_found TRUE)
      set(CORVANTA_RELEASE_DATE ${CMAKE_MATCH_2})
    endif()
    string(APPEND CORVANTA_METAINFO_RELEASES
      "    <release version=\"${CMAKE_MATCH_1}\" date=\"${CMAKE_MATCH_2}\">\n      <description>\n        <ul>\n")
    string(APPEND CORVANTA_DEBIAN_CHANGELOG "corvanta (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
    set(_deb_trailer "\n -- Lodrevan S.r.l. <assistenza@lodrevan.example>  ${_rfc_date}\n\n")
    set(_release_open TRUE)
  elseif(_release_open AND line MATCHES "^- (.+)$")
    set(_item "${CMAKE_MATCH_1}")
    string(REPLACE "&" "&amp;" _item "${_item}")
    string(REPLACE "<" "&lt;" _item "${_item}")
    string(REPLACE ">" "&gt;" _item "${_item}")
    string(REPLACE "`" "" _item "${_item}")
    string(APPEND CORVANTA_METAINFO_RELEASES "          <li>${_item}</li>\n")
    _corvanta_deb_item(_deb "${CMAKE_MATCH_1}")
    string(APPEND CORVANTA_DEBIAN_CHANGELOG "${_deb}")
  endif()
endforeach()
if(_release_open)
  string(APPEND CORVANTA_METAINFO_RELEASES "        </ul>\n      </description>\n    </release>")
  string(APPEND CORVANTA_DEBIAN_CHANGELOG "${_deb_trailer}")
endif()
if(NOT _release_found)
  message(FATAL_ERROR "CHANGELOG.md has no entry \"## ${PROJECT_VERSION} - YYYY-MM-DD\" for the project version")
endif()

string(STRIP "${CORVANTA_DEBIAN_CHANGELOG}" CORVANTA_DEBIAN_CHANGELOG)
string(REPLACE "@SEMICOLON@" ";" CORVANTA_DEBIAN_CHANGELOG "${CORVANTA_DEBIAN_CHANGELOG}")
string(REPLACE "@SEMICOLON@" ";" CORVANTA_METAINFO_RELEASES "${CORVANTA_METAINFO_RELEASES}")
# Rewritten only when it changes, so a configure step alone recompresses nothing.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog CONTENT "${CORVANTA_DEBIAN_CHANGELOG}\n" @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nfk ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  VERBATIM)
# The manual pages, compressed the way Debian keeps manual pages.
set(_corvanta_manpages)
foreach(_page corvanta corvanta-batch)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/${_page}.1 > ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${_page}.1)
  list(APPEND _corvanta_manpages ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz)
endforeach()
add_custom_target(corvanta_packaging_docs ALL
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${_corvanta_manpages})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CORVANTA_INSTALL_DOCDIR})
install(FILES ${_corvanta_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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
