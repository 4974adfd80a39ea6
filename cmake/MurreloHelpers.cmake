# Compiler settings shared by every target of ours, and small helpers so that each feature folder
# declares its own libraries, tests, benchmarks and fuzzers without touching a shared list.

add_library(murrelo_warnings INTERFACE)
target_compile_options(murrelo_warnings INTERFACE -Wall -Wextra -Wno-unused-parameter)
# Warnings stop the project's own check builds (scripts/test, CI); a user's build of a release with
# a newer compiler is not stopped by a warning that compiler adds.
if(MURRELO_WERROR)
  target_compile_options(murrelo_warnings INTERFACE -Werror
    # g++ 12 reports impossible overlaps in libstdc++'s own string concatenation at -O3 (GCC bug
    # 105329); the warning is noise there, so it is not turned into an error.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>
    # Likewise its "may be used uninitialized" through std::variant and std::optional at -O3 (GCC
    # bug 105562 and kin); sanitizer builds and clang still check for the real thing.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-error=maybe-uninitialized>)
endif()

if(MURRELO_SANITIZE OR MURRELO_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MURRELO_FUZZ)
  # Every object gets coverage instrumentation; only the fuzz executables link the driver.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# The layers, each with its own include root under ${MURRELO_INCLUDE_ROOT}, so that a target sees
# only the headers of its own layer and of the libraries it links (the spelling stays relative to
# the source tree: "KestruneRemoteKit/...", "Kestrune/...", "platform/linux/..."):
#   kit    KestruneRemoteKit/                   depends on nothing of ours
#   core   Kestrune/                            the kit only
#   linux  platform/linux/                      implements interfaces of the core or the kit
#   app    app/                                 the Qt-free composition root
#   shell  shell/                               the Qt application, its windows and its root
#   tests  tests/ (also bench/, fuzz/, tools/)  anything
set(MURRELO_INCLUDE_ROOT ${PROJECT_BINARY_DIR}/include)
set(MURRELO_LAYERS kit core linux app shell tests)

function(_murrelo_layer_link layer path)
  get_filename_component(_link ${MURRELO_INCLUDE_ROOT}/${layer}/${path} ABSOLUTE)
  get_filename_component(_parent ${_link} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${_link} SYMBOLIC)
endfunction()

function(murrelo_make_include_roots)
  foreach(_layer IN LISTS MURRELO_LAYERS)
    file(MAKE_DIRECTORY ${MURRELO_INCLUDE_ROOT}/${_layer})
  endforeach()
  _murrelo_layer_link(kit KestruneRemoteKit)
  _murrelo_layer_link(core Kestrune)
  _murrelo_layer_link(linux platform/linux)
  _murrelo_layer_link(app app)
  _murrelo_layer_link(shell shell)
  _murrelo_layer_link(tests tests)
endfunction()

# The layer of the folder being configured.
function(murrelo_folder_layer out)
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(_folder MATCHES "^KestruneRemoteKit(/|$)")
    set(_layer kit)
  elseif(_folder MATCHES "^(app|shell)(/|$)")
    set(_layer ${CMAKE_MATCH_1})
  elseif(_folder MATCHES "^Kestrune(/|$)")
    set(_layer core)
  elseif(_folder MATCHES "^platform/linux(/|$)")
    set(_layer linux)
  else()
    set(_layer tests)
  endif()
  set(${out} ${_layer} PARENT_SCOPE)
endfunction()

# Which layers a layer may link: the include roots it sees come only through these.
set(_murrelo_may_link_kit kit)
set(_murrelo_may_link_core kit core)
set(_murrelo_may_link_linux kit core linux)
set(_murrelo_may_link_app kit core linux app)
set(_murrelo_may_link_shell kit core linux app shell)
set(_murrelo_may_link_tests ${MURRELO_LAYERS})

# murrelo_add_library(name [LAYER layer] [SOURCES ...] [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# Without SOURCES the library is header-only. LAYER defaults to the folder's layer; the library
# exports that layer's include root and may link only libraries of the layers below it.
function(murrelo_add_library name)
  cmake_parse_arguments(ARG "" "LAYER" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  if(NOT ARG_LAYER)
    murrelo_folder_layer(ARG_LAYER)
  endif()
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${MURRELO_INCLUDE_ROOT}/${ARG_LAYER})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS}
                                  PRIVATE murrelo_warnings ${ARG_PRIVATE_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${MURRELO_INCLUDE_ROOT}/${ARG_LAYER})
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_LIBS})
  endif()
  set_target_properties(${name} PROPERTIES MURRELO_LAYER ${ARG_LAYER})
  set_property(GLOBAL APPEND PROPERTY MURRELO_LIBRARIES ${name})
endfunction()

# Run once every folder is configured: a library that links one of a higher layer would see that
# layer's headers, so the configuration stops there.
function(murrelo_check_layers)
  get_property(_libraries GLOBAL PROPERTY MURRELO_LIBRARIES)
  foreach(_library IN LISTS _libraries)
    get_target_property(_layer ${_library} MURRELO_LAYER)
    get_target_property(_type ${_library} TYPE)
    set(_links "")
    if(NOT _type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(_links ${_library} LINK_LIBRARIES)
    endif()
    get_target_property(_interface_links ${_library} INTERFACE_LINK_LIBRARIES)
    foreach(_linked IN LISTS _links _interface_links)
      if(TARGET ${_linked})
        get_target_property(_linked_layer ${_linked} MURRELO_LAYER)
        if(_linked_layer AND NOT _linked_layer IN_LIST _murrelo_may_link_${_layer})
          list(JOIN _murrelo_may_link_${_layer} ", " _allowed)
          message(FATAL_ERROR
            "${_library} (layer ${_layer}) links ${_linked} (layer ${_linked_layer}): "
            "a ${_layer} library may link only ${_allowed}")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()

# murrelo_add_test(name SOURCES ... LIBS ... [LABELS ...] [ENVIRONMENT ...] [RESOURCE_LOCK lock ...]
#                  [WHOLE_PROGRAM])
# One GoogleTest executable; every test case becomes its own CTest test. Tests sharing a
# RESOURCE_LOCK (e.g. "x11display": focus, keymap and clipboard of the one test X server) never
# run at the same time.
function(murrelo_add_test name)
  cmake_parse_arguments(ARG "WHOLE_PROGRAM" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT;RESOURCE_LOCK"
                        ${ARGN})
  # Test discovery cannot carry a property with several values through to the tests it makes (the
  # values spill into the next property: a program with two environment variables lost its lock on
  # the display), so a program that needs several locks (the display and the audio server) or
  # several environment variables runs as one test. So does one whose cases share an expensive
  # fixture, such as a compositor started once (WHOLE_PROGRAM).
  list(LENGTH ARG_RESOURCE_LOCK _locks)
  list(LENGTH ARG_ENVIRONMENT _variables)
  set(_whole_program ${ARG_WHOLE_PROGRAM})
  if(_locks GREATER 1 OR _variables GREATER 1)
    set(_whole_program TRUE)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  # Each discovered case reports its own skip ("[  SKIPPED ]", which gtest_discover_tests gives
  # CTest); a program run as one test says with its exit status that every case skipped.
  if(_whole_program)
    target_link_libraries(${name} PRIVATE murrelo_whole_program_main GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE GTest::gmock_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} murrelo_test_support murrelo_warnings)
  # Tests build their texts as `"prefix" + std::to_string(i)` throughout, which g++ 12 at -O3
  # takes for an overlapping copy inside libstdc++ (GCC bug 105329); the program's own code is
  # written around it instead, and clang and the sanitizers still check the tests.
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  target_compile_definitions(${name} PRIVATE
    MURRELO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" MURRELO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Only properties that have a value: an empty one would vanish from the list and shift the
  # name/value pairs (a test without labels got the label "ENVIRONMENT").
  set(_properties TIMEOUT ${ARG_TIMEOUT})
  if(_whole_program)
    add_test(NAME ${name} COMMAND ${name})
    # 77: WholeProgramMain's status when every case skipped.
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} SKIP_RETURN_CODE 77
                         RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    foreach(_property LABELS ENVIRONMENT)
      if(ARG_${_property})
        set_tests_properties(${name} PROPERTIES ${_property} "${ARG_${_property}}")
      endif()
    endforeach()
    return()
  endif()
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
