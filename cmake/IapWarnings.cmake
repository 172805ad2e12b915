# Warnings and sanitizers shared by every target of the project.
function(iap_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
    if(IAP_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

if(IAP_SANITIZE)
  string(REPLACE ";" "," _iap_san "${IAP_SANITIZE}")
  # Every report ends the process: undefined behaviour is not merely printed and then run past.
  add_compile_options(-fsanitize=${_iap_san} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_iap_san})
endif()

if(IAP_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "IAP_BUILD_FUZZ needs clang's libFuzzer: configure with CXX=clang++")
  endif()
  # Coverage feedback from every library a fuzz target links; the targets themselves add libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
