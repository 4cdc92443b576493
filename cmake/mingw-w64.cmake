# What the two MinGW-w64 toolchain files (mingw-w64-x86_64.cmake and
# mingw-w64-i686.cmake) share; they set CMAKE_SYSTEM_PROCESSOR and
# OMVAR_MINGW_TRIPLE first.
#
# Programs are linked statically (they then import only system DLLs) and run under
# Wine through scripts/wine-run when CTest runs them, in a prefix of their own
# architecture.
set(CMAKE_SYSTEM_NAME Windows)
# The posix thread model: the default win32 one has no std::thread or std::mutex,
# which GoogleTest needs.
set(CMAKE_C_COMPILER ${OMVAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OMVAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OMVAR_MINGW_TRIPLE}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Libraries and headers only from the MinGW sysroot and the cross-built OpenSSL,
# never the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${OMVAR_MINGW_TRIPLE})
if(OPENSSL_ROOT_DIR)
  list(APPEND CMAKE_FIND_ROOT_PATH ${OPENSSL_ROOT_DIR})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OPENSSL_ROOT_DIR)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(OPENSSL_USE_STATIC_LIBS TRUE)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEARCH=win32 ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()
