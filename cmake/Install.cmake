# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# The version header both programs print, the install rules (programs, desktop
# entry, MIME type, icons, AppStream metainfo, man pages, bash completion, the udev rule
# for USB adapters) and the Debian package made by `cpack -G DEB`.
include(GNUInstallDirs)


set(ZK7_DATA ${CMAKE_SOURCE_DIR}/data)
set(ZK7_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/zk7-programmer)

# Man pages and the changelog are installed compressed, as Debian's policy
# wants them; -n leaves the name and time out, so the result is reproducible.
find_program(ZK7_GZIP gzip REQUIRED)
set(ZK7_GZIPPED)
function(zk7_gzip name)
  set(out ${CMAKE_BINARY_DIR}/gz/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz
    COMMAND sh -c "${ZK7_GZIP} -9n -c '${ZK7_DATA}/${name}' > '${out}'"
    DEPENDS ${ZK7_DATA}/${name} VERBATIM)
  set(ZK7_GZIPPED ${ZK7_GZIPPED} ${out} PARENT_SCOPE)
endfunction()
zk7_gzip(zk7prog.1)
zk7_gzip(changelog)
if(ZK7_BUILD_GUI)
  zk7_gzip(zk7-programmer.1)
endif()
add_custom_target(zk7_gzipped ALL DEPENDS ${ZK7_GZIPPED})

install(TARGETS zk7prog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/gz/zk7prog.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZK7_DATA}/copyright ${CMAKE_BINARY_DIR}/gz/changelog.gz DESTINATION ${ZK7_DOCDIR})
# The guard is a helper of both programs, not a command: it goes to libexec,
# and the programs look for it there relative to their own folder first, so
# an install under another --prefix finds it too.
set(ZK7_GUARD_DIR ${CMAKE_INSTALL_LIBEXECDIR}/zk7-programmer)
install(TARGETS zk7-guard RUNTIME DESTINATION ${ZK7_GUARD_DIR})
file(RELATIVE_PATH ZK7_GUARD_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_LIBEXECDIR}/zk7-programmer)
set_source_files_properties(${CMAKE_SOURCE_DIR}/port/guard.cpp PROPERTIES COMPILE_DEFINITIONS
  "ZK7_GUARD_FROM_BINDIR=\"${ZK7_GUARD_FROM_BINDIR}\";ZK7_GUARD_INSTALLED=\"${CMAKE_INSTALL_FULL_LIBEXECDIR}/zk7-programmer/zk7-guard\"")
install(FILES ${ZK7_DATA}/zk7prog.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zk7prog)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${ZK7_DOCDIR})
# The manual the README links to, with its pictures, so its links work installed too.
file(GLOB ZK7_MANUAL CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md ${CMAKE_SOURCE_DIR}/docs/*.png)
install(FILES ${ZK7_MANUAL} DESTINATION ${ZK7_DOCDIR}/docs)
# udev reads rules from /usr/lib/udev/rules.d (the package's prefix is /usr) and
# /etc/udev/rules.d; from another prefix, copy the file to the latter.
install(FILES ${ZK7_DATA}/60-zk7-programmer.rules DESTINATION lib/udev/rules.d)
if(ZK7_BUILD_GUI)
  install(TARGETS zk7-programmer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/gz/zk7-programmer.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${ZK7_DATA}/${ZK7_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ZK7_DATA}/${ZK7_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The device file's MIME type (application/x-zk7-dvs, *.dvs), which the
  # desktop entry names; the package's trigger runs update-mime-database.
  install(FILES ${ZK7_DATA}/${ZK7_APP_ID}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
  # The PNGs are rendered from the SVG once and kept in the tree:
  #   rsvg-convert -w N -h N data/zk7-programmer.svg -o data/zk7-programmer-N.png
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${ZK7_DATA}/zk7-programmer.svg DESTINATION ${icons}/scalable/apps)
  foreach(size 48 256)
    install(FILES ${ZK7_DATA}/zk7-programmer-${size}.png
      DESTINATION ${icons}/${size}x${size}/apps RENAME zk7-programmer.png)
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zk7-programmer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZK7 Programmer project")
set(CPACK_PACKAGE_CONTACT "ZK7 Programmer project <maintainers@zk7-programmer.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration editor and programmer for ZK7A/ZK7B CAN I/O expanders")
# CPack puts the summary first and indents these lines as the control file wants.
set(CPACK_PACKAGE_DESCRIPTION "Edits the power-up configuration of a ZK7A or ZK7B CAN input/output expander
chip (GPIO, A/D converter, PWM, scheduled transmission, CAN bit timing,
identifiers and filters, user memory), saves it as a device file (*.dvs),
exports Intel HEX, and burns and verifies a chip through a bit-banged
programmer adapter on a parallel port. zk7-programmer is the desktop
application, zk7prog the command-line tool for scripts and production lines.
An emulated chip lets everything run without hardware.

Users who program chips through /dev/parport* must be members of group lp;
USB adapters are opened by the logged-in user through the installed udev rule.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zk7-programmer.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_STRIP_FILES ON)
include(CPack)
