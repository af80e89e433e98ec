# klf_subsystem(<name> [DEPS <targets>...] [LIBS <libraries>...])
# One static library per subsystem folder, made of every .cpp/.c in it.
# A folder without sources yet becomes an interface library so that
# dependants link the same way before and after it fills up.
function(klf_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_LIBS})
  endif()
endfunction()

# klf_test_suite(<name> <source dir> DEPS <targets>...)
# One GoogleTest executable per test folder; each test case becomes a ctest.
function(klf_test_suite name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(${name} ${_src})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} klf_testsupport GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KLF_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests"
    KLF_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
endfunction()
