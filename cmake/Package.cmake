# The Debian package (scripts/package): the programs under /usr, the udev
# rule, the user unit, the man pages, shell completion and docs, made into a
# .deb by CPack.
include(GNUInstallDirs)
set(ORBILATCH_MAINTAINER "orbilatch maintainers <maintainers@users.noreply.c-seed-92510bb3.example>")

install(TARGETS orbilatch-agent orbilatch-present RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# udev reads /usr/lib as well as /lib, and Debian 13 has moved its rules there.
install(FILES data/70-orbilatch-uinput.rules DESTINATION lib/udev/rules.d)
install(FILES data/orbilatch-present.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# A user unit, enabled by each user who wants it: the package enables nothing.
install(FILES data/orbilatch-present.service DESTINATION lib/systemd/user)
install(FILES data/bash-completion/orbilatch-present
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Compressed as debhelper would: man pages, the changelog, and documents over
# 4 kB (Debian policy 12.3). Each man page is first checked the way lintian
# checks it, and any warning of man's fails the build.
find_program(MAN_PROGRAM man REQUIRED)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/gz)
function(orbilatch_gzip input destination)
  cmake_parse_arguments(GZ "MAN_PAGE" "" "" ${ARGN})
  get_filename_component(name ${input} NAME)
  set(output ${PROJECT_BINARY_DIR}/gz/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} "-DMAN=$<$<BOOL:${GZ_MAN_PAGE}>:${MAN_PROGRAM}>"
            -P ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
    DEPENDS ${input} ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
    COMMENT "Compressing ${name}")
  set_property(GLOBAL APPEND PROPERTY ORBILATCH_COMPRESSED ${output})
  install(FILES ${output} DESTINATION ${destination})
endfunction()

# A native package's changelog, which lintian wants; the history itself is git's.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/changelog CONTENT
"orbilatch (${PROJECT_VERSION}) unstable; urgency=medium

  * Built from the orbilatch source; its changes are in its git history.

 -- ${ORBILATCH_MAINTAINER}  ${changelog_date}
")

orbilatch_gzip(${PROJECT_SOURCE_DIR}/docs/man/orbilatch-agent.1 ${CMAKE_INSTALL_MANDIR}/man1 MAN_PAGE)
orbilatch_gzip(${PROJECT_SOURCE_DIR}/docs/man/orbilatch-present.1 ${CMAKE_INSTALL_MANDIR}/man1 MAN_PAGE)
orbilatch_gzip(${PROJECT_SOURCE_DIR}/README.md ${CMAKE_INSTALL_DOCDIR})
orbilatch_gzip(${PROJECT_SOURCE_DIR}/docs/PROTOCOL.md ${CMAKE_INSTALL_DOCDIR})
orbilatch_gzip(${PROJECT_SOURCE_DIR}/docs/IMPRESS.md ${CMAKE_INSTALL_DOCDIR})
orbilatch_gzip(${PROJECT_BINARY_DIR}/changelog ${CMAKE_INSTALL_DOCDIR})
install(FILES data/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
get_property(compressed GLOBAL PROPERTY ORBILATCH_COMPRESSED)
add_custom_target(compressed-docs ALL DEPENDS ${compressed})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbilatch)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ORBILATCH_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "change slides from a watch over Bluetooth LE")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "orbilatch-present turns the taps of a wrist-worn presentation remote into
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
