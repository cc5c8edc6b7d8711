# Where an installed Corvanta keeps its pieces, relative to one another, so that a
# program installed under any prefix (or staged with DESTDIR) finds them from its
# own folder. Included before the subsystems, which compile the relative paths in.
include(GNUInstallDirs)

# The source manager is ours alone: a private folder, never the linker's path.
# GNUInstallDirs gives a multiarch library folder only for the /usr prefix; the
# private folder carries the architecture under every prefix, so the relative
# path from the program does not depend on where it is installed.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT CMAKE_INSTALL_LIBDIR MATCHES "${CMAKE_LIBRARY_ARCHITECTURE}")
  set(_privlib_default "${CMAKE_INSTALL_LIBDIR}/${CMAKE_LIBRARY_ARCHITECTURE}/corvanta")
else()
  set(_privlib_default "${CMAKE_INSTALL_LIBDIR}/corvanta")
endif()
set(CORVANTA_INSTALL_PRIVLIBDIR "${_privlib_default}" CACHE STRING
    "Folder of the source manager library, relative to the prefix")
set(CORVANTA_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/corvanta" CACHE STRING
    "Folder of the manual, relative to the prefix")

# Paths from bin/ to the two folders, as the program reads them beside itself.
function(_corvanta_full out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
_corvanta_full(_bin "${CMAKE_INSTALL_BINDIR}")
_corvanta_full(_privlib "${CORVANTA_INSTALL_PRIVLIBDIR}")
_corvanta_full(_doc "${CORVANTA_INSTALL_DOCDIR}")
file(RELATIVE_PATH CORVANTA_REL_PRIVLIBDIR "${_bin}" "${_privlib}")
file(RELATIVE_PATH CORVANTA_REL_DOCDIR "${_bin}" "${_doc}")

# The desktop entry, icon and metadata share one reverse-DNS id.
set(CORVANTA_APP_ID "example.lodrevan.Corvanta")
