# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64).
#
#   cmake -S . -B DIR -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DOPENSSL_ROOT_DIR=<libcrypto built by scripts/build-openssl-mingw>
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OMVAR_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
