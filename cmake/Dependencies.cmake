# Libraries we build on (Debian 12 packages, installed by scripts/install-deps).
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(Boost 1.81 EXACT REQUIRED COMPONENTS json url)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)

if(NOT MURRELO_FUZZ)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  if(MURRELO_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()

# Boost.Asio/Beast are header-only; keep their definitions in one place so every unit agrees.
add_library(murrelo_asio INTERFACE)
target_link_libraries(murrelo_asio INTERFACE Boost::headers OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
target_compile_definitions(murrelo_asio INTERFACE BOOST_ASIO_NO_DEPRECATED)
