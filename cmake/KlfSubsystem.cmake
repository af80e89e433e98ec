# klf_subsystem(<name> [DEPS <targets>...] [PRIVATE_DEPS <targets>...]
#               [LIBS <libraries>...] [EXCLUDE <subfolders>...])
# One static library per subsystem folder, made of every .cpp/.c in it and
# in its subfolders (app/windows/ belongs to klf_app), except subfolders
# with a CMakeLists.txt of their own and those named in EXCLUDE. DEPS are
# the subsystems its headers include, so dependants get them too;
# PRIVATE_DEPS those only its sources include. scripts/check_layers.sh
# keeps both exactly what the files include. Third-party LIBS stay
# private: no subsystem header includes them. A folder without sources yet
# becomes an interface library so that dependants link the same way before
# and after it fills up.
function(klf_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS;LIBS;EXCLUDE" ${ARGN})
  _klf_subsystem_files("${ARG_EXCLUDE}" _src _inc)
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${_inc})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS} ${ARG_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${_inc})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_LIBS})
  endif()
endfunction()

# The current folder's sources and its include folders (every folder that
# holds a header), subfolders built on their own left out.
function(_klf_subsystem_files excludes out_src out_inc)
  set(_dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB_RECURSE _files CONFIGURE_DEPENDS RELATIVE ${_dir}
       ${_dir}/*.cpp ${_dir}/*.c ${_dir}/*.h)
  set(_src)
  set(_inc ${_dir})
  foreach(_f ${_files})
    get_filename_component(_sub "${_f}" DIRECTORY)
    _klf_subfolder_built_apart("${_sub}" "${excludes}" _apart)
    if(_apart)
      continue()
    endif()
    if(_f MATCHES "\\.h$")
      list(APPEND _inc ${_dir}/${_sub})
    else()
      list(APPEND _src ${_dir}/${_f})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _inc)
  set(${out_src} ${_src} PARENT_SCOPE)
  set(${out_inc} ${_inc} PARENT_SCOPE)
endfunction()

# True when <sub> or a folder above it (inside the current folder) has a
# CMakeLists.txt of its own or is named in <excludes>.
function(_klf_subfolder_built_apart sub excludes out)
  set(${out} FALSE PARENT_SCOPE)
  while(sub)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/CMakeLists.txt OR sub IN_LIST excludes)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    get_filename_component(sub "${sub}" DIRECTORY)
  endwhile()
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
