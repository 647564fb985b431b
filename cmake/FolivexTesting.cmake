# GoogleTest for both targets and the Wine fixture for the Windows build.

if(FOLIVEX_HOST_TOOLS)
  # Support programs only: no GoogleTest, no Wine.
elseif(WIN32)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()

  # The Wine prefix lives in the build tree, so nothing touches ~/.wine and
  # parallel build trees never share a wineserver.
  set(FOLIVEX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for the tests")
  find_program(FOLIVEX_WINE wine REQUIRED)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-env.sh.in ${CMAKE_BINARY_DIR}/wine-env.sh @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
else()
  find_package(GTest REQUIRED)
endif()

# folivex_test(NAME SOURCES ... LIBS ... [GUI] [TIMEOUT s])
# One CTest test per executable; under Wine each start of a program costs
# about a second, so the cases of an executable run in one go.
function(folivex_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()

if(WIN32 AND NOT FOLIVEX_HOST_TOOLS)
  add_test(NAME wine_start COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine-start.sh ${CMAKE_BINARY_DIR})
  add_test(NAME wine_stop COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine-stop.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

# folivex_library(NAME SOURCES ... [DEPS ...]): a static library of the
# given sources. The library's folder under src/ (its name without the
# "folivex_" prefix) is its layer; it may include headers only from its own
# layer and the layers of the libraries it links, directly or through them.
# A source or header that reaches another layer stops the configuration, so
# a library that reaches up does not build.
function(folivex_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT L_SOURCES)
    # A subsystem whose sources are not written yet still links.
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp "")
    set(L_SOURCES ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
  endif()
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_DEPS})

  string(REGEX REPLACE "^folivex_(test_)?" "" layer ${name})
  set(layers ${layer})
  foreach(dep ${L_DEPS})
    if(TARGET ${dep})
      get_target_property(dep_layers ${dep} FOLIVEX_LAYERS)
      if(dep_layers)
        list(APPEND layers ${dep_layers})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES layers)
  set_target_properties(${name} PROPERTIES FOLIVEX_LAYERS "${layers}")

  # The headers beside the sources belong to the library too.
  set(headers)
  foreach(file ${L_SOURCES})
    get_filename_component(dir ${file} DIRECTORY)
    file(GLOB dir_headers CONFIGURE_DEPENDS ${dir}/*.h)
    list(APPEND headers ${dir_headers})
  endforeach()
  list(REMOVE_DUPLICATES headers)
  foreach(file ${L_SOURCES} ${headers})
    if(NOT IS_ABSOLUTE ${file})
      set(file ${CMAKE_CURRENT_SOURCE_DIR}/${file})
    endif()
    if(NOT EXISTS ${file})
      continue()
    endif()
    file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" used ${line})
      if(NOT used IN_LIST layers)
        message(FATAL_ERROR "${file} includes ${used}/, which ${name} does not build on "
                            "(it builds on: ${layers})")
      endif()
    endforeach()
  endforeach()
endfunction()
