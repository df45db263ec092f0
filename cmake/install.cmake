# Installation: the programs live together in <prefix>/lib/portflash (their
# program directory, where the loaders go), with links in <prefix>/bin.
set(PORTFLASH_PROGRAM_DIR lib/portflash)

set(_programs portflash-cli portflash-sim)
if(PORTFLASH_BUILD_GUI)
  list(APPEND _programs portflash)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${PORTFLASH_PROGRAM_DIR})

set(_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${_links})
foreach(_program IN LISTS _programs)
  file(CREATE_LINK ../${PORTFLASH_PROGRAM_DIR}/${_program} ${_links}/${_program} SYMBOLIC)
  install(FILES ${_links}/${_program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/res/help/start.htm
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/help)

# System-wide profile defaults: the installed version for the welcome page.
configure_file(${PROJECT_SOURCE_DIR}/packaging/Portflash.conf.in
               ${CMAKE_BINARY_DIR}/packaging/Portflash.conf @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/Portflash.conf
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/Tarvex\ Corporation)

if(PORTFLASH_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/portflash.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# Manual pages from the programs' own --help.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  foreach(_program portflash-cli portflash-sim)
    set(_man ${CMAKE_BINARY_DIR}/man/${_program}.1)
    add_custom_command(OUTPUT ${_man}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --name=${_program} --output=${_man} $<TARGET_FILE:${_program}>
      DEPENDS ${_program}
      VERBATIM)
    list(APPEND _manpages ${_man})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${_manpages})
  install(FILES ${_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
