# Helpers shared by the subsystem folders.
#
# nura_library(<target> DEPS <targets...>)
#   A static library made of every .cpp/.c under the calling folder (recursively,
#   but not below a nested folder that has its own CMakeLists.txt). The repository
#   root is the include root, so sources include "gxl/math/vec.h" and the like.
function(nura_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  # Leave out sources that belong to nested subsystems with their own CMakeLists.
  file(GLOB_RECURSE nested CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(n IN LISTS nested)
    get_filename_component(ndir ${n} DIRECTORY)
    list(FILTER srcs EXCLUDE REGEX "^${ndir}/")
  endforeach()
  foreach(e IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${e}")
  endforeach()
  if(srcs)
    add_library(${target} STATIC ${srcs})
    set_property(GLOBAL APPEND PROPERTY NURA_LIBRARIES ${target})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    # A subsystem with no sources yet is a header-only target.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# nura_test(<name> DEPS <targets...>)
#   One GoogleTest executable made of every .cpp in the calling folder; its tests
#   run headless (no display, no sound device) with the working folder set to the
#   build folder of the test.
function(nura_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} nura_test_support GTest::gtest GTest::gmock)
  nura_test_compile_options(${name})
  target_compile_definitions(${name} PRIVATE
      NURA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      NURA_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  set(properties)
  if(ARG_PROPERTIES)
    set(properties PROPERTIES ${ARG_PROPERTIES})
  endif()
  gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      ${properties})
  # The environment is set by a script of our own that CTest runs after the
  # one that adds the discovered tests: the discovery passes its properties on
  # word by word, so a list given there reaches each test as its first entry
  # only.
  set(environment "${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake")
  file(WRITE "${environment}"
       "if(${name}_TESTS)\n"
       "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${NURA_TEST_ENV}]==])\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${environment}")
endfunction()

# Test code is compiled without optimisation: optimising GoogleTest's macro
# expansions under the sanitizers costs most of the build's time and buys the
# tests little, since the code under test keeps the build type's level.
function(nura_test_compile_options target)
  if(NURA_SANITIZE)
    target_compile_options(${target} PRIVATE -O0)
  endif()
endfunction()
