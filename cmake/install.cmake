# Installation: the programs live together in <prefix>/lib/portflash (their
# program directory, where the loaders go), with links in <prefix>/bin.
set(PORTFLASH_PROGRAM_DIR lib/portflash)

set(_programs portflash-cli portflash-sim)
if(PORTFLASH_BUILD_GUI)
  list(APPEND _programs portflash)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${PORTFLASH_PROGRAM_DIR})

# Relative links, so that they hold in a staging directory and in the package.
file(RELATIVE_PATH _to_programs /${CMAKE_INSTALL_BINDIR} /${PORTFLASH_PROGRAM_DIR})
set(_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${_links})
foreach(_program IN LISTS _programs)
  file(CREATE_LINK ${_to_programs}/${_program} ${_links}/${_program} SYMBOLIC)
  install(FILES ${_links}/${_program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Where the wizard's help command looks (share/doc/portflash/help beside bin).
install(FILES ${PROJECT_SOURCE_DIR}/res/help/start.htm
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/portflash/help)

# System-wide profile defaults: the installed version for the welcome page. QSettings
# reads /etc/xdg whatever the prefix (XDG_CONFIG_DIRS), so it goes there for a
# system prefix (/usr, /usr/local, /opt/...) and under <prefix>/etc otherwise
# (a staging or home prefix, where /etc is not ours to write).
configure_file(${PROJECT_SOURCE_DIR}/packaging/Portflash.conf.in
               ${CMAKE_BINARY_DIR}/packaging/Portflash.conf @ONLY)
if(CMAKE_INSTALL_PREFIX MATCHES "^/(usr|usr/local|opt/.*)$")
  set(PORTFLASH_XDG_DIR /etc/xdg)
else()
  set(PORTFLASH_XDG_DIR ${CMAKE_INSTALL_SYSCONFDIR}/xdg)
endif()
install(FILES ${CMAKE_BINARY_DIR}/packaging/Portflash.conf
        DESTINATION "${PORTFLASH_XDG_DIR}/Tarvex Corporation")

if(PORTFLASH_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/portflash.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon the wizard paints, as PNG files (written by scripts/screenshots).
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/icons/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          FILES_MATCHING PATTERN "portflash.png")
endif()

# Manual pages from the programs' own --help.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  foreach(_program portflash-cli portflash-sim)
    if(_program STREQUAL "portflash-cli")
      set(_what "recover a unit's firmware over its serial console port")
    else()
      set(_what "a simulated unit on a pseudo-terminal")
    endif()
    set(_man ${CMAKE_BINARY_DIR}/man/${_program}.1)
    add_custom_command(OUTPUT ${_man}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --name=${_what} --section=1 --output=${_man} $<TARGET_FILE:${_program}>
      COMMAND ${GZIP} -9nf ${_man}
      DEPENDS ${_program}
      VERBATIM)
    list(APPEND _manpages ${_man}.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${_manpages})
  install(FILES ${_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man or gzip not found: no manual pages")
endif()

# A Debian package: scripts/package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME portflash)
set(CPACK_PACKAGE_VENDOR "Tarvex Corporation")
set(CPACK_PACKAGE_CONTACT "Portflash developers <portflash@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Recovers a unit's firmware through its serial console port")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A wizard, a command-line twin and a simulated unit for
 recovering the firmware of a network unit over its serial console port.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages from dpkg-shlibdeps (libqt6gui6 brings the X11 platform
# plugin); the help page opens in the desktop's browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(PORTFLASH_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The profile under /etc is the administrator's to edit: a conffile.
if(IS_ABSOLUTE ${PORTFLASH_XDG_DIR})
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
       "${PORTFLASH_XDG_DIR}/Tarvex Corporation/Portflash.conf\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
endif()
include(CPack)
