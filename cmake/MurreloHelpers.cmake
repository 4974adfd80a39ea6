# Compiler settings shared by every target of ours, and small helpers so that each feature folder
# declares its own libraries, tests, benchmarks and fuzzers without touching a shared list.

add_library(murrelo_warnings INTERFACE)
target_compile_options(murrelo_warnings INTERFACE -Wall -Wextra -Werror -Wno-unused-parameter
  # g++ 12 reports impossible overlaps in libstdc++'s own string concatenation at -O3 (GCC bug
  # 105329); the warning is noise there, so it is not turned into an error.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>
  # Likewise its "may be used uninitialized" through std::variant and std::optional at -O3 (GCC bug
  # 105562 and kin); sanitizer builds and clang still check for the real thing.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-error=maybe-uninitialized>)

if(MURRELO_SANITIZE OR MURRELO_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MURRELO_FUZZ)
  # Every object gets coverage instrumentation; only the fuzz executables link the driver.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# murrelo_add_library(name SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(murrelo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE murrelo_warnings ${ARG_PRIVATE_LIBS})
endfunction()

# murrelo_add_test(name SOURCES ... LIBS ... [LABELS ...] [ENVIRONMENT ...] [RESOURCE_LOCK lock])
# One GoogleTest executable; every test case becomes its own CTest test. Tests sharing a
# RESOURCE_LOCK (e.g. "x11display": focus, keymap and clipboard of the one test X server) never
# run at the same time.
function(murrelo_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock_main murrelo_warnings)
  target_compile_definitions(${name} PRIVATE
    MURRELO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" MURRELO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Only properties that have a value: an empty one would vanish from the list and shift the
  # name/value pairs (a test without labels got the label "ENVIRONMENT").
  set(_properties TIMEOUT ${ARG_TIMEOUT})
  foreach(_property LABELS ENVIRONMENT RESOURCE_LOCK)
    if(ARG_${_property})
      list(APPEND _properties ${_property} "${ARG_${_property}}")
    endif()
  endforeach()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${_properties})
endfunction()

# murrelo_add_bench(name SOURCES ... LIBS ...)
function(murrelo_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark murrelo_warnings)
endfunction()

# murrelo_add_fuzzer(name SOURCES ... LIBS ...)
function(murrelo_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} murrelo_warnings)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY MURRELO_FUZZERS ${name})
endfunction()

# Adds every immediate subfolder that has its own CMakeLists.txt, so a feature folder is added by
# creating it (the model of one folder per feature, each with its own build file).
macro(murrelo_add_subdirectories)
  file(GLOB _murrelo_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _murrelo_children)
  foreach(_child IN LISTS _murrelo_children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endmacro()
