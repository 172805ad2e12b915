# Install layout: the programs live together in one program folder with "Skin" beside them (they find
# their skins and default update files there), and the usual bin/ entries link to them.
include(GNUInstallDirs)

set(IAP_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/iap-tool)
set(_iap_programs iap-cli iap-devsim)
if(TARGET iap-tool)
  list(APPEND _iap_programs iap-tool)
endif()

install(TARGETS ${_iap_programs} RUNTIME DESTINATION ${IAP_PROGRAM_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Skin DESTINATION ${IAP_PROGRAM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/app/desktop/iap-tool.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/iap-tool)
foreach(_program ${_iap_programs})
  # A relative link, so the package installs under any prefix.
  file(RELATIVE_PATH _target /${CMAKE_INSTALL_BINDIR} /${IAP_PROGRAM_DIR}/${_program})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    execute_process(COMMAND ${CMAKE_COMMAND} -E create_symlink ${_target}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_program}\")")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME iap-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "IAP Tool developers <iap-tool@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Updates a speed-camera and radar warning device over a serial line")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
