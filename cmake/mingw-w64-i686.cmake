# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-i686).
#
#   cmake -S . -B DIR -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
#         -DOPENSSL_ROOT_DIR=<libcrypto built by scripts/build-openssl-mingw i686>
#
# The programs run in a 32-bit Wine prefix (WINEARCH=win32, see scripts/wine-run).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OMVAR_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# A 64-bit time_t, as on 64-bit Windows: the C runtime's 32-bit time functions
# stop at January 2038, and schedules name years long after that.
set(CMAKE_C_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
set(CMAKE_CXX_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
