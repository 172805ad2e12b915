# The core is five static libraries, one per layer, and each links only the layers below it:
#
#   base       (trace, text conversion, raw byte strings)
#   protocol   -> base            (command frame, code tables, frame finder)
#   transport  -> base            (the port knows no protocol: the engine hands it the handshake)
#   files      -> base
#   engine     -> transport, files, protocol, base
#
# A layer that needs a symbol from a layer above it therefore fails to link. All layers share the
# source root as include root, so scripts/check-layers.sh guards the header-only includes as well.

# iap_keep_platform_sources(<list variable>): drops the other platform's back ends (*_posix.cpp on
# Windows, *_win32.cpp elsewhere) from a list of sources.
function(iap_keep_platform_sources list_var)
  set(_sources ${${list_var}})
  if(WIN32)
    list(FILTER _sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER _sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${list_var} ${_sources} PARENT_SCOPE)
endfunction()

# iap_add_layer(<name> [links...]): the library iap_<name> (alias iap::<name>) from the *.cpp files of
# the calling folder; platform back ends are whole files named after their platform.
function(iap_add_layer name)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  iap_keep_platform_sources(_sources)
  add_library(iap_${name} STATIC ${_sources})
  add_library(iap::${name} ALIAS iap_${name})
  target_include_directories(iap_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(iap_${name} PUBLIC ${ARGN})
  iap_set_warnings(iap_${name})
endfunction()

# Static libraries leave their undefined symbols to the final link, where iap::core supplies every
# layer. So each layer is also linked whole, with only the layers it names, into a program that does
# nothing: a call into a higher layer fails this link, and with it the build.
file(WRITE ${CMAKE_BINARY_DIR}/layer-check/main.cpp "int main() { return 0; }\n")
function(iap_check_layer_links name)
  add_executable(iap_layer_check_${name} ${CMAKE_BINARY_DIR}/layer-check/main.cpp)
  target_link_libraries(iap_layer_check_${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,iap_${name}>")
  set_target_properties(iap_layer_check_${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layer-check)
endfunction()
