# Compiler settings every component of the tools shares.

set(TOOLS_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror)

if(TOOLS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The system's own code: warnings as errors, no exceptions, no RTTI needed.
function(tools_component target)
  target_compile_options(${target} PRIVATE ${TOOLS_WARNINGS} -fno-exceptions)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A GoogleTest executable of one or more files; each test becomes a CTest test.
# tools_add_gtest(NAME name SOURCES files... LIBS libraries... [LABELS labels...])
function(tools_add_gtest)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  # The house style sets no braces around the one statement of an if, and
  # GoogleTest's assertions expand to an if/else of their own, guarded
  # against a dangling else (GTEST_AMBIGUOUS_ELSE_BLOCKER_) but still
  # reported by GCC: in tests that report is noise.
  target_compile_options(${T_NAME} PRIVATE ${TOOLS_WARNINGS} -Wno-dangling-else)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  # The properties reach the discovery script through a command line, which
  # splits any list: join the labels into one word.  ctest -L takes a
  # regular expression, so -L unit and -L atoms both select "unit_atoms".
  set(labels unit ${T_LABELS})
  string(REPLACE ";" "_" labels "${labels}")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${labels})
endfunction()

# Scripted test builds of the tools and their end-to-end cases.
include(ToolsE2E)
