# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-i686).
#
#   cmake -S . -B DIR -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
#         -DOPENSSL_ROOT_DIR=<libcrypto built by scripts/build-openssl-mingw i686>
#
# The programs run in a 32-bit Wine prefix (WINEARCH=win32, see scripts/wine-run).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OMVAR_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
