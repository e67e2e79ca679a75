# What `cmake --install` puts where, and the Debian package made of it
# (`cmake --build <dir> --target package`, or scripts/package).
include(GNUInstallDirs)

set(PAXELLE_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(PAXELLE_TOOLS paxelle opx-lane paxelle-hostsim)

# The server states its version in its own words; it must be the project's.
file(STRINGS ${CMAKE_SOURCE_DIR}/core/Version.h version_line REGEX "kServerVersionText =")
string(REPLACE "." "[.]" version_pattern "${PROJECT_VERSION}")
if(NOT version_line MATCHES " ${version_pattern}\"")
  message(FATAL_ERROR "core/Version.h (${version_line}) does not end in the project version ${PROJECT_VERSION}")
endif()

# Whether the window is part of this build: some library the server links is Qt's.
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
paxelle_links_qt(paxelle PAXELLE_HAS_WINDOW)

install(TARGETS ${PAXELLE_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle.service DESTINATION lib/systemd/system)

# Until the window is built the menu entry stays hidden: without a window the
# server would run unseen.
if(PAXELLE_HAS_WINDOW)
  set(PAXELLE_DESKTOP_NODISPLAY false)
else()
  set(PAXELLE_DESKTOP_NODISPLAY true)
endif()
configure_file(${PAXELLE_PACKAGING_DIR}/paxelle.desktop.in ${CMAKE_BINARY_DIR}/packaging/paxelle.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/paxelle.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PAXELLE_PACKAGING_DIR}/paxelle.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages from each executable's --help and --version, made when the
# install runs (so only packaging needs help2man), compressed as Debian wants.
set(man_dir ${CMAKE_BINARY_DIR}/packaging/man)
set(man_summaries
  "paxelle=payment transaction server for point-of-sale lanes"
  "opx-lane=reference point-of-sale lane client for the Paxelle server"
  "paxelle-hostsim=authorization host simulator for Paxelle tests and demonstrations")
install(CODE "
  find_program(PAXELLE_HELP2MAN help2man REQUIRED)
  file(MAKE_DIRECTORY \"${man_dir}\")
")
foreach(entry IN LISTS man_summaries)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 tool)
  list(GET entry 1 summary)
  # The server's --version line is its own text, not the "name (package) version"
  # that help2man reads the others' names and versions from.
  set(version_option "")
  if(tool STREQUAL "paxelle")
    set(version_option "\"--version-string=paxelle (Paxelle) ${PROJECT_VERSION}\"")
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
  ")
  install(FILES ${man_dir}/${tool}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Debian's documentation files: the copyright and the changelog.
configure_file(${PAXELLE_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
install(CODE "
  execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"gzip failed on the changelog\")
  endif()
")
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${PAXELLE_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/paxelle)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME paxelle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Paxelle developers <dev@paxelle.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "payment transaction server for point-of-sale lanes")
set(CPACK_PACKAGE_DESCRIPTION
    "Paxelle runs on a merchant's back-office PC between the point-of-sale lanes and
the card authorization host. Lanes log in over TCP port 9000 and send
encrypted requests; the server sends each to the host over TLS or a dial-up
modem and answers the lane. It logs all traffic with card data masked.

The package holds the server with its systemd service, the reference lane
client opx-lane and the host simulator paxelle-hostsim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the shared libraries do not tell: the maintainer script's adduser, and
# the Qt platform plugins the window loads at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
if(PAXELLE_HAS_WINDOW)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PAXELLE_PACKAGING_DIR}/postinst ${PAXELLE_PACKAGING_DIR}/prerm ${PAXELLE_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
