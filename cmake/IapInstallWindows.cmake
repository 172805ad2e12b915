# Windows: one program folder holding iap-cli.exe, iap-tool.exe, the Qt DLLs with their plugins and
# "Skin" (the programs find their skins and default update files beside themselves). The build's bin/
# is laid out the same way, so the programs and the tests run from there under wine; the installer
# (NSIS) and the ZIP carry the installed folder.

set(_iap_programs iap-cli)
if(TARGET iap-tool)
  list(APPEND _iap_programs iap-tool)
endif()
install(TARGETS ${_iap_programs} RUNTIME DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Skin DESTINATION .)
# The user's guide (the Start menu opens it) and what ships under whose terms.
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.html DESTINATION docs)
set(_iap_notices ${PROJECT_SOURCE_DIR}/cmake/packaging/windows/third-party-notices.txt)
install(FILES ${_iap_notices} DESTINATION licenses)
install(FILES ${PROJECT_SOURCE_DIR}/third_party/CLI11/LICENSE DESTINATION licenses RENAME CLI11.txt)
# Qt's and the compiler run-time's licences, as Debian ships them on the build machine.
foreach(_licence LGPL-3 GPL-3)
  if(EXISTS /usr/share/common-licenses/${_licence})
    install(FILES /usr/share/common-licenses/${_licence} DESTINATION licenses RENAME ${_licence}.txt)
  else()
    message(WARNING "/usr/share/common-licenses/${_licence} is missing: the installer ships without it")
  endif()
endforeach()

if(TARGET iap-tool)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Xml UiTools)
  # Qt is used under the LGPL 3: its DLLs ship unchanged, beside the programs.
  set(_iap_qt_libraries Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Xml Qt6::UiTools)
  # Plugin folder -> plugins. Qt looks for plugins in these folders beside the executable. The
  # offscreen platform is for the window tests in the build folder only.
  set(_iap_qt_plugins
    platforms Qt6::QWindowsIntegrationPlugin
    styles Qt6::QWindowsVistaStylePlugin
    imageformats Qt6::QICOPlugin)

  set(_iap_deploy_commands "")
  foreach(_library ${_iap_qt_libraries})
    list(APPEND _iap_deploy_commands
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${_library}> ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    install(FILES $<TARGET_FILE:${_library}> DESTINATION .)
  endforeach()
  # A Qt built with mingw-w64 links the compiler's run-time DLLs (the programs themselves link them
  # statically); they ship beside Qt's DLLs, from the compiler that built the programs.
  if(MINGW)
    foreach(_runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_runtime}
        OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(IS_ABSOLUTE "${_path}" AND EXISTS "${_path}")
        # Debian's copies carry their debug information (libstdc++: 24 MB instead of 4 MB).
        set(_stripped ${CMAKE_BINARY_DIR}/mingw-runtime/${_runtime})
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/mingw-runtime)
        if(CMAKE_STRIP AND ${_path} IS_NEWER_THAN ${_stripped})
          execute_process(COMMAND ${CMAKE_STRIP} --strip-debug -o ${_stripped} ${_path} RESULT_VARIABLE _failed)
          if(_failed)
            file(COPY_FILE ${_path} ${_stripped})
          endif()
        elseif(NOT CMAKE_STRIP)
          file(COPY_FILE ${_path} ${_stripped})
        endif()
        set(_path ${_stripped})
        list(APPEND _iap_deploy_commands
          COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_path} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
        install(FILES ${_path} DESTINATION .)
      else()
        message(WARNING "${_runtime} not found beside ${CMAKE_CXX_COMPILER}: Qt's DLLs may not load")
      endif()
    endforeach()
  endif()
  set(_iap_build_plugins ${_iap_qt_plugins})
  if(TARGET Qt6::QOffscreenIntegrationPlugin)
    list(APPEND _iap_build_plugins platforms Qt6::QOffscreenIntegrationPlugin)
  endif()
  while(_iap_build_plugins)
    list(POP_FRONT _iap_build_plugins _folder _plugin)
    list(APPEND _iap_deploy_commands
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${_folder}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${_plugin}> ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${_folder})
  endwhile()
  while(_iap_qt_plugins)
    list(POP_FRONT _iap_qt_plugins _folder _plugin)
    install(FILES $<TARGET_FILE:${_plugin}> DESTINATION ${_folder})
  endwhile()
  add_custom_target(iap_qt_deploy ALL ${_iap_deploy_commands}
    COMMENT "Copying the Qt DLLs and plugins beside the executables")
  add_dependencies(iap-tool iap_qt_deploy)

  # The licence texts of the Qt build, when it carries them (the shared mingw-w64 build does).
  find_path(IAP_QT_LICENSES_DIR NAMES LICENSES PATHS ${QT6_INSTALL_PREFIX} NO_DEFAULT_PATH)
  if(IAP_QT_LICENSES_DIR)
    install(DIRECTORY ${IAP_QT_LICENSES_DIR}/LICENSES/ DESTINATION licenses/qt)
  endif()
endif()

# CPack: an NSIS installer iap-tool-<version>-win64.exe and a ZIP of the same folder, the portable
# variant (unpacked beside the update files, the programs find them in their own folder). The
# installer's script is ours (cmake/packaging/windows/NSIS.template.in): per-user by default without
# administrator rights, all users as a choice, in Russian, with the licences' page, a Start-menu
# folder (the program, the user's guide, the uninstaller) and "run now" at the end.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME iap-tool)
set(CPACK_PACKAGE_VENDOR "IAP Tool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Updates a speed-camera and radar warning device over a serial line")
set(CPACK_PACKAGE_FILE_NAME iap-tool-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "IAP Tool")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY iap-tool)
set(CPACK_NSIS_PACKAGE_NAME "IAP Tool")
set(CPACK_NSIS_DISPLAY_NAME "IAP Tool ${PROJECT_VERSION}")
# A 64-bit installer for 64-bit programs: an all-users install goes to "Program Files", not "Program
# Files (x86)", the registry entries land in the 64-bit view, and a 64-bit wine (no 32-bit part) runs it.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_UNINSTALL_NAME uninstall)
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/packaging/windows)
# Values of our template. CPack hands only CPACK_* variables on to the template, hence the prefix.
set(CPACK_IAP_NSIS_ICON ${PROJECT_SOURCE_DIR}/app/icons/iap-tool.ico)
set(CPACK_IAP_NSIS_NOTICES ${_iap_notices})
# CPack copies the value into CPackConfig.cmake unescaped, where it is read again: four backslashes
# here are one in the installer's script.
set(CPACK_IAP_NSIS_GUIDE "docs\\\\user-guide.html")
if(TARGET iap-tool)
  set(CPACK_IAP_NSIS_PROGRAM iap-tool.exe)
else()
  set(CPACK_IAP_NSIS_PROGRAM iap-cli.exe)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
