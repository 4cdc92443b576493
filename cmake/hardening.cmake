# Hardening of every Linux build, not only of packages: the compiler and linker
# flags of Debian's hardening=+all. A packager's own flags (CMAKE_*_FLAGS from
# dpkg-buildflags) may repeat them; repeating is harmless, and a fortify level
# they set is kept rather than redefined (a redefinition warns, and warnings are
# errors here). The Windows build has its own toolchain and is left alone.
if(WIN32)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# Both exist only for some architectures (x86 for control-flow protection).
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "OMVAR_HAS${flag}" var)
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    add_compile_options(${flag})
  endif()
endforeach()

# The fortified functions need optimisation (glibc warns without it), and under
# the sanitizers they would hide from them the overruns they are there to find.
if(NOT OMVAR_SANITIZE AND NOT OMVAR_BUILD_FUZZ
   AND NOT "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS} $ENV{CPPFLAGS}" MATCHES "_FORTIFY_SOURCE")
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()

add_link_options(LINKER:-z,relro LINKER:-z,now)
