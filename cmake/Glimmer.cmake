# SPDX-License-Identifier: GPL-3.0-or-later
# glimmer_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [AUDIO] [QT])
#   One small test executable per call, registered with CTest.
#   AUDIO: runs against the private PulseAudio server started by the
#          sound_server fixture (PULSE_SERVER is set for it), and once more,
#          as NAME_pipewire, against the private PipeWire server of the
#          pipewire_server fixture (unless GLIMMER_PIPEWIRE_TESTS is off).
#          GLIMMER_SOUND_SERVER says which: "pulseaudio" or "pipewire".
#   QT:    runs on Qt's offscreen platform.
# In a RelWithDebInfo build the test's own sources are compiled with -Og and
# line tables only (-g1): they take half the time to build, and a backtrace
# still has functions, files and lines. The code under test, in the
# libraries, keeps the build type's flags.
# Qt-free test programs built from the same libraries share one precompiled
# header (glimmer_share_test_headers).
set(glimmer_test_options "$<$<CONFIG:RelWithDebInfo>:-Og;-g1>")
function(glimmer_add_test NAME)
  cmake_parse_arguments(T "AUDIO;QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${NAME} ${T_SOURCES})
  target_compile_options(${NAME} PRIVATE ${glimmer_test_options})
  target_link_libraries(${NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT T_QT)
    glimmer_group_test_headers(${NAME} "${T_LIBS}")
  endif()
  set_target_properties(${NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${NAME} COMMAND ${NAME})
  set(env "GLIMMER_BUILD_DIR=${CMAKE_BINARY_DIR};GLIMMER_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_QT)
    set_target_properties(${NAME} PROPERTIES AUTOMOC ON)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(NOT T_AUDIO)
    set_tests_properties(${NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
    return()
  endif()
  # The servers and their client.conf (autospawn off) come from
  # tests/pulse-server.sh and tests/pipewire-server.sh, started by the
  # fixtures in tests/platform/CMakeLists.txt. Two sound tests never run at
  # the same time on one server (they share its devices and defaults), but a
  # test on the PulseAudio server and one on the PipeWire server may: most of
  # their time is spent waiting for sound to play in real time.
  set(servers "${NAME}|pulseaudio|pulse-test|sound_server")
  if(GLIMMER_PIPEWIRE_TESTS)
    list(APPEND servers "${NAME}_pipewire|pipewire|pipewire-test|pipewire_server")
  endif()
  foreach(entry IN LISTS servers)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 test)
    list(GET fields 1 kind)
    list(GET fields 2 folder)
    list(GET fields 3 fixture)
    if(NOT test STREQUAL NAME)
      add_test(NAME ${test} COMMAND ${NAME})
    endif()
    set(server_env ${env})
    list(APPEND server_env "PULSE_SERVER=unix:${CMAKE_BINARY_DIR}/${folder}/runtime/pulse/native")
    list(APPEND server_env "PULSE_CLIENTCONFIG=${CMAKE_BINARY_DIR}/${folder}/client.conf")
    list(APPEND server_env "GLIMMER_PULSE_DIR=${CMAKE_BINARY_DIR}/${folder}")
    list(APPEND server_env "GLIMMER_SOUND_SERVER=${kind}")
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "${server_env}" TIMEOUT 300
      FIXTURES_REQUIRED ${fixture} RESOURCE_LOCK ${fixture})
  endforeach()
endfunction()

# glimmer_glob(VAR DIR): the .cpp files of one folder, found again whenever
# a file is added, so that several people can add files without touching
# the folder's CMakeLists.txt.
function(glimmer_glob VAR DIR)
  file(GLOB files CONFIGURE_DEPENDS ${DIR}/*.cpp)
  set(${VAR} ${files} PARENT_SCOPE)
endfunction()

# The precompiled header of the Qt-free test programs. Parsing GoogleTest
# takes most of the time a small test's source takes to compile, so the
# tests that link the same libraries (and so are compiled with the same
# definitions and options) share one precompiled header, made once by a
# small object library. GCC uses a precompiled header only where every
# definition it was made with is the same; -Winvalid-pch with -Werror turns
# a header it could not use into an error, so a mismatch cannot slip by.
# Groups of fewer than three tests compile without one: making the header
# costs more than it saves them. Qt tests compile without one too: their
# Qt headers differ from test to test, and every Qt test has a second
# source (AUTOMOC's) that would load the header for nothing.
set(glimmer_test_headers <algorithm> <chrono> <cmath> <cstdint> <cstdlib> <cstring> <filesystem> <fstream>
  <functional> <memory> <string> <thread> <vector> <gtest/gtest.h>)

function(glimmer_group_test_headers NAME LIBS)
  list(SORT LIBS)
  string(MD5 id "${LIBS}")
  string(SUBSTRING "${id}" 0 10 id)
  get_property(groups GLOBAL PROPERTY GLIMMER_TEST_HEADER_GROUPS)
  if(NOT id IN_LIST groups)
    set_property(GLOBAL APPEND PROPERTY GLIMMER_TEST_HEADER_GROUPS ${id})
    set_property(GLOBAL PROPERTY GLIMMER_TEST_HEADER_LIBS_${id} "${LIBS}")
  endif()
  set_property(GLOBAL APPEND PROPERTY GLIMMER_TEST_HEADER_TESTS_${id} ${NAME})
  get_property(deferred GLOBAL PROPERTY GLIMMER_TEST_HEADERS_DEFERRED)
  if(NOT deferred)
    set_property(GLOBAL PROPERTY GLIMMER_TEST_HEADERS_DEFERRED ON)
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL glimmer_share_test_headers)
  endif()
endfunction()

# Runs once every folder has added its tests.
function(glimmer_share_test_headers)
  get_property(groups GLOBAL PROPERTY GLIMMER_TEST_HEADER_GROUPS)
  foreach(id IN LISTS groups)
    get_property(tests GLOBAL PROPERTY GLIMMER_TEST_HEADER_TESTS_${id})
    list(LENGTH tests count)
    if(count LESS 3)
      continue()
    endif()
    get_property(libs GLOBAL PROPERTY GLIMMER_TEST_HEADER_LIBS_${id})
    set(source ${CMAKE_BINARY_DIR}/glimmer_test_headers/${id}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "// The precompiled header of the tests that link: ${libs}\n")
    add_library(glimmer_test_headers_${id} OBJECT ${source})
    target_compile_options(glimmer_test_headers_${id} PRIVATE ${glimmer_test_options})
    target_link_libraries(glimmer_test_headers_${id} PRIVATE ${libs} GTest::gtest)
    target_precompile_headers(glimmer_test_headers_${id} PRIVATE ${glimmer_test_headers})
    foreach(test IN LISTS tests)
      target_precompile_headers(${test} REUSE_FROM glimmer_test_headers_${id})
    endforeach()
  endforeach()
endfunction()
