# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64).
#
#   cmake -S . -B DIR -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DOPENSSL_ROOT_DIR=<libcrypto built by scripts/build-openssl-mingw>
#
# Programs are linked statically (they then import only system DLLs) and run under
# Wine through scripts/wine-run when CTest runs them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OMVAR_MINGW_TRIPLE x86_64-w64-mingw32)
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

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
