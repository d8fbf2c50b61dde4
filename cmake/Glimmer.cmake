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
function(glimmer_add_test NAME)
  cmake_parse_arguments(T "AUDIO;QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${NAME} ${T_SOURCES})
  target_compile_options(${NAME} PRIVATE $<$<CONFIG:RelWithDebInfo>:-Og -g1>)
  target_link_libraries(${NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
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
