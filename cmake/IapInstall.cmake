# Install layout: the programs live together in one program folder with "Skin" beside them (they find
# their skins and default update files there), and the usual bin/ entries link to them. The Debian
# package adds what a user and the archive's checker (lintian) expect: a desktop entry with an icon,
# manual pages, the user's guide, a README on the port's permission, the copyright file and the
# changelog.
include(GNUInstallDirs)

set(IAP_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/iap-tool)
set(IAP_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/iap-tool)
set(_iap_packaging ${PROJECT_SOURCE_DIR}/cmake/packaging)
set(_iap_programs iap-cli iap-devsim)
if(TARGET iap-tool)
  list(APPEND _iap_programs iap-tool)
endif()

install(TARGETS ${_iap_programs} RUNTIME DESTINATION ${IAP_PROGRAM_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Skin DESTINATION ${IAP_PROGRAM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/app/desktop/iap-tool.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/icons/iap-tool.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES ${PROJECT_SOURCE_DIR}/app/icons/iap-tool-48.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME iap-tool.png)
install(FILES ${_iap_packaging}/debian/README ${_iap_packaging}/debian/copyright ${PROJECT_SOURCE_DIR}/docs/user-guide.html
        DESTINATION ${IAP_DOC_DIR})
foreach(_program ${_iap_programs})
  # A relative link, so the package installs under any prefix.
  file(RELATIVE_PATH _target /${CMAKE_INSTALL_BINDIR} /${IAP_PROGRAM_DIR}/${_program})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    execute_process(COMMAND ${CMAKE_COMMAND} -E create_symlink ${_target}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_program}\")")
endforeach()

# Compressed the way Debian wants them: gzip -9, no name or time stamp inside (-n), so two builds of
# the same text give the same bytes.
find_program(IAP_GZIP gzip)
find_program(IAP_HELP2MAN help2man)
set(_iap_packaged_files "")
if(IAP_GZIP)
  set(_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(OUTPUT ${_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND sh -c "'${IAP_GZIP}' -n -9 -c '${_iap_packaging}/debian/changelog' > '${_changelog}'"
    DEPENDS ${_iap_packaging}/debian/changelog
    COMMENT "Compressing the package's changelog" VERBATIM)
  list(APPEND _iap_packaged_files ${_changelog})
  install(FILES ${_changelog} DESTINATION ${IAP_DOC_DIR})
  # Manual pages from each program's own --help, so they never tell another story than the program.
  if(IAP_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    foreach(_program ${_iap_programs})
      set(_page ${CMAKE_BINARY_DIR}/packaging/man/${_program}.1.gz)
      add_custom_command(OUTPUT ${_page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${IAP_HELP2MAN} -L C.UTF-8 -N --no-discard-stderr
                --version-string=${PROJECT_VERSION} -i ${_iap_packaging}/man/${_program}.h2m
                -o ${CMAKE_BINARY_DIR}/packaging/man/${_program}.1 $<TARGET_FILE:${_program}>
        COMMAND ${IAP_GZIP} -n -9 -f ${CMAKE_BINARY_DIR}/packaging/man/${_program}.1
        DEPENDS ${_program} ${_iap_packaging}/man/${_program}.h2m
        COMMENT "Writing the manual page of ${_program}" VERBATIM)
      list(APPEND _iap_packaged_files ${_page})
      install(FILES ${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
  else()
    message(STATUS "help2man not found: the package is built without manual pages (apt-get install help2man)")
  endif()
endif()
add_custom_target(iap_package_files ALL DEPENDS ${_iap_packaged_files})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME iap-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "IAP Tool maintainers <maintainers@users.noreply.c-seed-9f79823a.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "updates a speed-camera and radar warning device over a serial line")
# The extended description; CPack puts the summary above it and a space before every line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "IAP Tool transfers the firmware, the speed-camera database, the audio and
picture images and the radar-module firmware to an in-car speed-camera and
radar warning device connected by a serial (USB) cable, and edits the
device's settings. It finds the port on which the device answers by itself.
.
The package holds the window program iap-tool (Russian user interface),
the command-line updater iap-cli, which also checks update files without a
device, and the device simulator iap-devsim for trying both without one.
The device's port is open to members of the dialout group.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian ships programs without their debug information (the build folder keeps it).
set(CPACK_STRIP_FILES ON)
include(CPack)
