# Build helpers shared by every subsystem folder.
#
# brindlework_library(<name> [LABEL <label>] [DEPS <libs>...])
#   Makes the static library brindlework_<name> from every .cpp of the folder
#   except the *_test.cpp files, and (with tests on) one test program
#   <name>_tests from the *_test.cpp files, discovered into CTest with the
#   label <label> (default <name>). Files are globbed so that new units need
#   no list edits. Tests labelled gui run with Qt's offscreen platform.

set(BRINDLEWORK_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor)
# g++ spells the local-shadowing warning its own way; clang (fuzz builds) has
# only the broader -Wshadow, which would flag every constructor parameter.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND BRINDLEWORK_WARNINGS -Wshadow=local)
  # g++ 12 at -O3 reports impossible overlaps inside std::string's own
  # copies (-Wrestrict false positives); the warning stays off there.
  if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    list(APPEND BRINDLEWORK_WARNINGS -Wno-restrict)
  endif()
endif()
if(BRINDLEWORK_WERROR)
  list(APPEND BRINDLEWORK_WARNINGS -Werror)
endif()

# With fuzzing on, the libraries carry libFuzzer's coverage instrumentation
# too, so the fuzzers see the code they exercise.
if(BRINDLEWORK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# LLVM's linker (Debian's lld) links the large sanitized test programs in
# less than half the time of the default one; without it the default links.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld BRINDLEWORK_HAVE_LLD)
if(BRINDLEWORK_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

if(BRINDLEWORK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

function(brindlework_library name)
  cmake_parse_arguments(ARG "" "LABEL" "DEPS;TEST_DEPS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL ${name})
  endif()
  file(GLOB _all CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  set(_src "")
  set(_tests "")
  foreach(f ${_all})
    if(f MATCHES "_test\\.cpp$")
      list(APPEND _tests ${f})
    elseif(NOT f MATCHES "/main\\.cpp$")
      list(APPEND _src ${f})
    endif()
  endforeach()
  add_library(brindlework_${name} STATIC ${_src})
  target_include_directories(brindlework_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(brindlework_${name} PRIVATE ${BRINDLEWORK_WARNINGS})
  target_link_libraries(brindlework_${name} PUBLIC ${ARG_DEPS})
  if(BRINDLEWORK_TESTS AND _tests)
    add_executable(${name}_tests ${_tests})
    target_compile_options(${name}_tests PRIVATE ${BRINDLEWORK_WARNINGS})
    target_compile_definitions(${name}_tests PRIVATE
      BRINDLEWORK_TESTDATA_DIR="${BRINDLEWORK_TESTDATA}"
      BRINDLEWORK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      BRINDLEWORK_ARTEFACTS_DIR="${CMAKE_BINARY_DIR}/artefacts")
    target_link_libraries(${name}_tests PRIVATE brindlework_${name} ${ARG_TEST_DEPS}
                          GTest::gmock GTest::gtest_main)
    set(_env "")
    if(ARG_LABEL STREQUAL "gui")
      set(_env ENVIRONMENT QT_QPA_PLATFORM=offscreen)
    endif()
    gtest_discover_tests(${name}_tests
      PROPERTIES LABELS ${ARG_LABEL} ${_env}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# Sets <var> to every subsystem library defined so far, highest layer first
# (the link order programs that use them all need).
function(brindlework_all_libraries var)
  set(_libs "")
  foreach(dir app gui_host gui_host_core gui social news web database platform core)
    if(TARGET brindlework_${dir})
      list(APPEND _libs brindlework_${dir})
    endif()
  endforeach()
  set(${var} ${_libs} PARENT_SCOPE)
endfunction()
