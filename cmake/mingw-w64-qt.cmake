# The Windows cross-build with Qt: mingw-w64-x86_64.cmake plus a Qt 6 built for it.
#
# Qt's own toolchain file (lib/cmake/Qt6/qt.toolchain.cmake of the Windows Qt tree) points the package
# search at that tree and chain-loads ours. The tree comes from IAP_QT_WINDOWS_ARCHIVE (default: the
# shared Qt 6.4.2 archive beside the source folder; the environment variable of that name overrides the
# default), unpacked once into <build>/qt6-mingw. Without the archive this is the plain mingw-w64
# toolchain: give an unpacked Qt with -DIAP_QT_WINDOWS_DIR=<folder holding lib/cmake/Qt6>, or build
# without the windows (-DIAP_BUILD_GUI=OFF).
#
# CMake reads a toolchain file again for every try_compile, in a scratch folder; those need only the
# compiler, so they get our file alone.
get_property(_iap_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(_iap_in_try_compile)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
  return()
endif()

if(DEFINED ENV{IAP_QT_WINDOWS_ARCHIVE})
  set(_iap_qt_archive_default "$ENV{IAP_QT_WINDOWS_ARCHIVE}")
else()
  # Beside the source folder as the team's machines lay it out; a clone elsewhere (a worktree, CI's
  # scratch folder) names it with the environment variable.
  get_filename_component(_iap_qt_archive_default
    ${CMAKE_CURRENT_LIST_DIR}/../../shared/windows/qt6-mingw-6.4.2.tar.xz ABSOLUTE)
endif()
set(IAP_QT_WINDOWS_ARCHIVE "${_iap_qt_archive_default}" CACHE FILEPATH
  "Qt 6 for Windows (mingw-w64) as a tar archive holding qt6-mingw/; unpacked into the build folder")

if(NOT IAP_QT_WINDOWS_DIR AND EXISTS "${IAP_QT_WINDOWS_ARCHIVE}")
  set(_iap_qt_dir ${CMAKE_BINARY_DIR}/qt6-mingw)
  # The stamp names the archive it came from, so pointing at another archive unpacks again.
  set(_iap_qt_stamp ${_iap_qt_dir}/.unpacked-from)
  set(_iap_qt_unpacked "")
  if(EXISTS ${_iap_qt_stamp})
    file(READ ${_iap_qt_stamp} _iap_qt_unpacked)
  endif()
  if(NOT _iap_qt_unpacked STREQUAL IAP_QT_WINDOWS_ARCHIVE)
    message(STATUS "Unpacking ${IAP_QT_WINDOWS_ARCHIVE} into ${CMAKE_BINARY_DIR}")
    file(REMOVE_RECURSE ${_iap_qt_dir})
    file(ARCHIVE_EXTRACT INPUT ${IAP_QT_WINDOWS_ARCHIVE} DESTINATION ${CMAKE_BINARY_DIR})
    if(NOT EXISTS ${_iap_qt_dir}/lib/cmake/Qt6/qt.toolchain.cmake)
      message(FATAL_ERROR "${IAP_QT_WINDOWS_ARCHIVE} holds no qt6-mingw/lib/cmake/Qt6/qt.toolchain.cmake")
    endif()
    file(WRITE ${_iap_qt_stamp} "${IAP_QT_WINDOWS_ARCHIVE}")
  endif()
  set(IAP_QT_WINDOWS_DIR ${_iap_qt_dir} CACHE PATH "Qt 6 for Windows in use (holds lib/cmake/Qt6)")
endif()

if(IAP_QT_WINDOWS_DIR)
  set(QT_CHAINLOAD_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake CACHE FILEPATH
    "Toolchain file Qt's toolchain file loads")
  # moc, rcc and uic run on this machine: Debian's Qt of the same version.
  set(QT_HOST_PATH /usr CACHE PATH "Host Qt (moc, rcc, uic)")
  set(Qt6HostInfo_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo CACHE PATH "Host Qt's Qt6HostInfo package")
  include(${IAP_QT_WINDOWS_DIR}/lib/cmake/Qt6/qt.toolchain.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
endif()
