# End-to-end cases and the scripted test builds of the tools.

# The tests' scripts need Python; a build without the tests does not.  The
# system's interpreter when there is one: a version manager's shim in PATH
# costs a noticeable start-up time on every case.
if(TOOLS_BUILD_TESTS)
  if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()
set(TOOLS_E2E_RUNNER ${PROJECT_SOURCE_DIR}/tests/e2e/run_case.py)

# Builds a tool twice from the same code: NAME links the service library of
# this build (${TOOLS_SERVICE_LIBRARY}); NAME_scripted, made when the tests
# are built, always links the scripted service stand-in, so that end-to-end
# cases can give it a scenario.
#   tools_add_service_executables(NAME name SOURCES files... LIBS libraries...)
# LIBS are the tool's own libraries (its run routine); initiator_common and
# the service library are added after them.
function(tools_add_service_executables)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  tools_component(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} initiator_common ${TOOLS_SERVICE_LIBRARY})
  tools_link_runtime(${T_NAME})
  if(TOOLS_BUILD_TESTS)
    add_executable(${T_NAME}_scripted ${T_SOURCES})
    tools_component(${T_NAME}_scripted)
    target_link_libraries(${T_NAME}_scripted PRIVATE ${T_LIBS} initiator_common iscsi_service_standin)
  endif()
endfunction()

# Makes one CTest test per case file (*.case) of CASES_DIR, each running
# EXECUTABLE through tests/e2e/run_case.py; labels "e2e" and LABELS.
#   tools_add_e2e_cases(PREFIX name EXECUTABLE target CASES_DIR dir
#                       [WRAPPER command] [PLATFORM name] [LABELS labels...])
# WRAPPER runs the executable (for example "wine"); PLATFORM picks the cases'
# <section.PLATFORM> variants.  The tests are named e2e.PREFIX.CASE.
function(tools_add_e2e_cases)
  cmake_parse_arguments(E "" "PREFIX;EXECUTABLE;CASES_DIR;WRAPPER;PLATFORM" "LABELS" ${ARGN})
  if(NOT IS_ABSOLUTE "${E_CASES_DIR}")
    set(E_CASES_DIR ${CMAKE_CURRENT_SOURCE_DIR}/${E_CASES_DIR})
  endif()
  file(GLOB cases CONFIGURE_DEPENDS ${E_CASES_DIR}/*.case)
  if(NOT cases)
    message(FATAL_ERROR "tools_add_e2e_cases: no *.case file in ${E_CASES_DIR}")
  endif()
  set(extra)
  if(E_WRAPPER)
    list(APPEND extra --wrapper ${E_WRAPPER})
  endif()
  if(E_PLATFORM)
    list(APPEND extra --platform ${E_PLATFORM})
  endif()
  foreach(case IN LISTS cases)
    get_filename_component(case_name ${case} NAME_WE)
    add_test(NAME e2e.${E_PREFIX}.${case_name}
             COMMAND ${Python3_EXECUTABLE} ${TOOLS_E2E_RUNNER}
                     --exe $<TARGET_FILE:${E_EXECUTABLE}> ${extra} ${case})
    set_tests_properties(e2e.${E_PREFIX}.${case_name} PROPERTIES
      LABELS "e2e;${E_LABELS}" TIMEOUT 120)
  endforeach()
endfunction()
