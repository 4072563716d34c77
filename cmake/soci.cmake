# SOCI (Debian's libsoci-dev) with its SQLite and PostgreSQL back ends, as the target
# tarnik_soci. The package ships no CMake or pkg-config files, so the parts are found one by
# one; its headers need Boost's (libboost-dev), and the PostgreSQL back end's need libpq's.
find_path(TARNIK_SOCI_INCLUDE soci/soci.h)
find_path(TARNIK_BOOST_INCLUDE boost/fusion/algorithm/iteration/for_each.hpp)
find_path(TARNIK_LIBPQ_INCLUDE libpq-fe.h PATH_SUFFIXES postgresql)
find_library(TARNIK_SOCI_CORE soci_core)
find_library(TARNIK_SOCI_SQLITE3 soci_sqlite3)
find_library(TARNIK_SOCI_POSTGRESQL soci_postgresql)
foreach(part TARNIK_SOCI_INCLUDE TARNIK_BOOST_INCLUDE TARNIK_LIBPQ_INCLUDE TARNIK_SOCI_CORE
             TARNIK_SOCI_SQLITE3 TARNIK_SOCI_POSTGRESQL)
  if(NOT ${part})
    message(FATAL_ERROR "The production database needs libsoci-dev, libboost-dev and libpq-dev "
                        "(scripts/setup installs them); -DTARNIK_DB=OFF builds without it "
                        "(${part} not found)")
  endif()
endforeach()
add_library(tarnik_soci INTERFACE)
target_include_directories(tarnik_soci SYSTEM INTERFACE ${TARNIK_SOCI_INCLUDE}
                           ${TARNIK_BOOST_INCLUDE} ${TARNIK_LIBPQ_INCLUDE})
target_link_libraries(tarnik_soci INTERFACE ${TARNIK_SOCI_SQLITE3} ${TARNIK_SOCI_POSTGRESQL}
                      ${TARNIK_SOCI_CORE})
if(TARNIK_SANITIZE OR TARNIK_FUZZ)
  # UBSan's check of dynamic types needs the type information of SOCI's classes, which the
  # library does not export.
  target_compile_options(tarnik_soci INTERFACE -fno-sanitize=vptr)
endif()
