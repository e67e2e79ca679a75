# What `cmake --install` puts where, and the two Debian packages made of it
# (`cmake --build <dir> --target package`, or scripts/package): `paxelle`, the
# server with its tools, service and manual pages, which links no GUI library,
# and `paxelle-window`, the operator window with its desktop entry.
include(GNUInstallDirs)

set(PAXELLE_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

# The server states its version in its own words; it must be the project's.
file(STRINGS ${CMAKE_SOURCE_DIR}/core/Version.h version_line REGEX "kServerVersionText =")
string(REPLACE "." "[.]" version_pattern "${PROJECT_VERSION}")
if(NOT version_line MATCHES " ${version_pattern}\"")
  message(FATAL_ERROR "core/Version.h (${version_line}) does not end in the project version ${PROJECT_VERSION}")
endif()

# Whether some library `target` links, directly or not, is Qt's.
function(paxelle_links_qt target result)
  set(pending ${target})
  set(seen "")
  while(pending)
    list(POP_FRONT pending item)
    if(item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(item MATCHES "^Qt[0-9]*::")
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${item})
      get_target_property(imported ${item} IMPORTED)
      if(NOT imported)
        get_target_property(links ${item} LINK_LIBRARIES)
        if(links)
          list(APPEND pending ${links})
        endif()
      endif()
    endif()
  endwhile()
  set(${result} FALSE PARENT_SCOPE)
endfunction()
# The server package must not pull in a desktop stack.
foreach(tool paxelle opx-lane paxelle-hostsim)
  paxelle_links_qt(${tool} links_qt)
  if(links_qt)
    message(FATAL_ERROR "${tool} links Qt: only paxelle-window may")
  endif()
endforeach()

install(TARGETS paxelle opx-lane paxelle-hostsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle.service DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle.tmpfiles DESTINATION lib/tmpfiles.d RENAME paxelle.conf COMPONENT server)
# The service's options, a configuration file of the package (dpkg keeps an
# administrator's changes across upgrades and removes it on purge).
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle.default DESTINATION /etc/default RENAME paxelle COMPONENT server)

install(TARGETS paxelle-window RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle-window.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT window)
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT window)

# Manual pages from each executable's --help and --version, made when the
# install runs (so only packaging needs help2man), compressed as Debian wants.
set(man_dir ${CMAKE_BINARY_DIR}/packaging/man)
set(man_pages
  "server:paxelle=payment transaction server for point-of-sale lanes"
  "server:opx-lane=reference point-of-sale lane client for the Paxelle server"
  "server:paxelle-hostsim=authorization host simulator for Paxelle tests and demonstrations"
  "window:paxelle-window=operator window of the Paxelle payment transaction server")
foreach(component server window)
  install(CODE "
    find_program(PAXELLE_HELP2MAN help2man REQUIRED)
    file(MAKE_DIRECTORY \"${man_dir}\")
  " COMPONENT ${component})
endforeach()
foreach(entry IN LISTS man_pages)
  string(REGEX MATCH "^([a-z]+):([^=]+)=(.*)$" matched "${entry}")
  set(component ${CMAKE_MATCH_1})
  set(tool ${CMAKE_MATCH_2})
  set(summary ${CMAKE_MATCH_3})
  # The server's --version line is its own text, not the "name (package) version"
  # that help2man reads the others' names and versions from.
  set(version_option "")
  if(tool MATCHES "^paxelle(-window)?$")
    set(version_option "\"--version-string=${tool} (Paxelle) ${PROJECT_VERSION}\"")
  endif()
  install(CODE "
    execute_process(
      COMMAND \${PAXELLE_HELP2MAN} --no-info --section=1 \"--name=${summary}\" ${version_option}
              --include=${PAXELLE_PACKAGING_DIR}/${tool}.h2m --output=${man_dir}/${tool}.1
              ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${tool}
      RESULT_VARIABLE failed)
    if(NOT failed)
      execute_process(COMMAND gzip -9nf ${man_dir}/${tool}.1 RESULT_VARIABLE failed)
    endif()
    if(failed)
      message(FATAL_ERROR \"The manual page of ${tool} could not be made\")
    endif()
  " COMPONENT ${component})
  install(FILES ${man_dir}/${tool}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endforeach()

# Debian's documentation files, in each package: the copyright and the changelog.
configure_file(${PAXELLE_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(doc_package_server paxelle)
set(doc_package_window paxelle-window)
foreach(component server window)
  install(CODE "
    execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog
                    OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"gzip failed on the changelog\")
    endif()
  " COMPONENT ${component})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${PAXELLE_PACKAGING_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${doc_package_${component}} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME paxelle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Paxelle developers <dev@paxelle.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server window)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each description's first line is its package's summary.
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME paxelle)
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "payment transaction server for point-of-sale lanes
Paxelle runs on a merchant's back-office PC between the point-of-sale lanes and
the card authorization host. Lanes log in over TCP port 9000 and send
encrypted requests; the server sends each to the host over TLS or a dial-up
modem and answers the lane. It logs all traffic with card data masked.

The package holds the server with its systemd service, the reference lane
client opx-lane and the host simulator paxelle-hostsim. It needs no display:
the operator window is in the package paxelle-window.")
# What the shared libraries do not tell: the maintainer script's adduser.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "paxelle-window")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PAXELLE_PACKAGING_DIR}/postinst ${PAXELLE_PACKAGING_DIR}/prerm ${PAXELLE_PACKAGING_DIR}/postrm
    ${PAXELLE_PACKAGING_DIR}/conffiles)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME paxelle-window)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "operator window of the Paxelle payment transaction server
The Paxelle server in a desktop window (Qt 6): the traffic list with its
status title, the tray icon, the setup and About dialogs and the start-up
messages as boxes. paxelle without --headless hands over to it; the desktop
menu entry Paxelle starts it.")
# The server package for its tools and manual pages, and the Qt platform
# plugins the window loads at run time, which no shared library names.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "paxelle (= ${PROJECT_VERSION}), qt6-qpa-plugins")

include(CPack)
