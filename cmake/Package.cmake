# The Debian package (scripts/package): the programs under /usr, the udev
# rule, the man pages, shell completion and docs, made into a .deb by CPack.
include(GNUInstallDirs)

install(TARGETS orbilatch-agent orbilatch-present RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# udev reads /usr/lib as well as /lib, and Debian 13 has moved its rules there.
install(FILES data/70-orbilatch-uinput.rules DESTINATION lib/udev/rules.d)
install(FILES data/orbilatch-present.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/bash-completion/orbilatch-present
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES README.md docs/PROTOCOL.md data/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Each page is checked the way lintian checks it (man's warnings are a
# failure of the build) and compressed as Debian wants it.
find_program(MAN_PROGRAM man REQUIRED)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
foreach(page orbilatch-agent.1 orbilatch-present.1)
  set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -DMAN=${MAN_PROGRAM} -DPAGE=${PROJECT_SOURCE_DIR}/docs/man/${page}
            -DOUTPUT=${compressed} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS docs/man/${page} cmake/ManPage.cmake
    COMMENT "Checking and compressing the man page ${page}")
  list(APPEND compressed_pages ${compressed})
endforeach()
add_custom_target(man-pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbilatch)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "orbilatch maintainers <maintainers@users.noreply.c-seed-92510bb3.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "change slides from a watch over Bluetooth LE")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "change slides from a watch over Bluetooth LE
orbilatch-present turns the taps of a wrist-worn presentation remote into
the keys a USB presentation clicker sends (next, previous, start, end,
black screen) on a virtual keyboard of the kernel, or through the X server.
It runs orbilatch-agent, which makes the desktop a Bluetooth LE peripheral
for the watch through BlueZ, and which other programs can drive through
JSON lines on its standard input and output.")
# The libraries come from dpkg-shlibdeps; bluez is named because the agent
# only talks to bluetoothd over D-Bus and links nothing of it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bluez (>= 5.66)")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postinst ${PROJECT_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
