# Shared build settings: warnings, sanitizers, dependencies and test helpers.
include(GNUInstallDirs)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                    -Woverloaded-virtual -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports std::string concatenations as overlapping copies (a known
  # false positive of its -Wrestrict), and optional variants as uninitialised.
  add_compile_options(-Wno-restrict -Wno-maybe-uninitialized)
endif()
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
if(PELORIN_WERROR)
  add_compile_options(-Werror)
endif()

if(PELORIN_SANITIZE)
  add_compile_options(-fsanitize=${PELORIN_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${PELORIN_SANITIZE})
endif()

# Every sanitizer report halts the fuzzer, so that the input is kept.
if(PELORIN_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Logic libraries are linked into each tweak library with hidden symbols, so that
# every process (and every tweak) gets its own singletons, as on the phone.
function(pelorin_logic_library name)
  add_library(${name} STATIC ${ARGN})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# pelorin_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One test program per folder; each test case becomes its own CTest test.
# Test suites whose name contains "Concurrency" also get the label
# "concurrency", which the TSan run selects.
function(pelorin_test name)
  if(PELORIN_FUZZ OR NOT PELORIN_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT TARGET GTest::gtest_main)
    find_package(GTest REQUIRED)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  set(plain_properties TIMEOUT 120)
  if(T_LABELS)
    list(APPEND plain_properties LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_FILTER "-*Concurrency*"
                       TEST_LIST ${name}_TESTS PROPERTIES ${plain_properties})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_FILTER "*Concurrency*"
                       TEST_LIST ${name}_CONCURRENCY_TESTS
                       PROPERTIES TIMEOUT 120 LABELS "concurrency;${T_LABELS}")
endfunction()
