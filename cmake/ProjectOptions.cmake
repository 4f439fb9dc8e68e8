# Warnings, sanitizers and the toolkit backend of this configuration.

if(WIN32)
  set(TK_BACKEND win32)
else()
  set(TK_BACKEND headless)
endif()

# Rebuilds of the same sources (several checkouts, clean CI clones) come from ccache
# when it is installed; nothing depends on it.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

option(CORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(WIN32)
  set(CORVANE_SANITIZE OFF)
endif()

if(CORVANE_SANITIZE)
  # Everything, GoogleTest included, so that container overflow checks agree.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Our own targets: warnings as errors.
function(corvane_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # GCC 12 reports -Wrestrict inside std::string's own code at -O2/-O3 (GCC bug
  # 105329, fixed in 13); it says nothing about our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# A GoogleTest program registered with CTest, one CTest entry per test case on
# the native build. `RESOURCE_LOCK protocol-ports` serialises tests that bind the
# fixed protocol ports outside a namespace of their own.
function(corvane_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  corvane_target_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
  else()
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
