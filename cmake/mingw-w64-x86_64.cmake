# Cross-builds 64-bit Windows programs on Debian with mingw-w64 (g++-mingw-w64-x86-64-posix: the posix
# thread model, which std::thread and std::mutex need). Programs link libgcc, libstdc++ and winpthread
# statically, so they run with no toolchain DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(IAP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${IAP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IAP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${IAP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${IAP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
