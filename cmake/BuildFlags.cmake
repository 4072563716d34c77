# Build type and hardening for the programs that ship.
#
# An empty build type gives an unoptimised build without debug information: the plain
# packaging command (cmake -S . -B build -G Ninja) would ship that, so it becomes
# RelWithDebInfo (-O2 -g, as Debian builds; cpack strips the programs).
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type (empty: RelWithDebInfo)" FORCE)
endif()

# The hardening Debian builds its packages with (dpkg-buildflags with hardening=+all):
# stack protector, fortified C library calls, read-only relocations bound at start-up and
# position-independent executables. Left out of the sanitizer and fuzz builds, which
# instrument the same calls themselves, and of the Windows build (PE has no RELRO).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang"
   AND NOT TARNIK_SANITIZE AND NOT TARNIK_TSAN AND NOT TARNIK_FUZZ)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  # The C library's fortified calls need the optimiser (without it they only warn); a
  # compiler that predefines another level is overruled rather than warned about.
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
