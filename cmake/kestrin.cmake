# kestrin_library(NAME [DEPS lib...] [EXTERNAL target...])
# Every *.cc of the calling folder except main.cc and *_main.cc becomes the
# static library kestrin_NAME. Platform code lives in back-end files beside
# the shared ones: only *_win32.cc in a Windows build, only *_posix.cc
# elsewhere (shared code holds no #ifdef _WIN32).
function(kestrin_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTERNAL" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  list(FILTER sources EXCLUDE REGEX "(/main|_main)\\.cc$")
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cc$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cc$")
  endif()
  set(deps)
  foreach(d ${ARG_DEPS})
    list(APPEND deps kestrin_${d})
  endforeach()
  add_library(kestrin_${name} STATIC ${sources})
  target_include_directories(kestrin_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kestrin_${name} PUBLIC ${deps} ${ARG_EXTERNAL})
endfunction()

# kestrin_test(NAME [DEPS lib...] [EXTRA_SOURCES file...])
# Every *.cc of the calling test folder becomes one GoogleTest binary NAME_tests.
# Tests find the sources, the shared corpus and the built programs through
# compile definitions.
function(kestrin_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  set(deps)
  foreach(d ${ARG_DEPS})
    list(APPEND deps kestrin_${d})
  endforeach()
  add_executable(${name}_tests ${sources} ${ARG_EXTRA_SOURCES})
  target_include_directories(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name}_tests PRIVATE ${deps} kestrin_test_support GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KESTRIN_TEST_TMP=${PROJECT_BINARY_DIR}/test-tmp")
endfunction()
