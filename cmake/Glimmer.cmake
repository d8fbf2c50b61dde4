# glimmer_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [AUDIO] [QT])
#   One small test executable per call, registered with CTest.
#   AUDIO: runs against the private PulseAudio server started by the
#          sound_server fixture (PULSE_SERVER is set for it).
#   QT:    runs on Qt's offscreen platform.
function(glimmer_add_test NAME)
  cmake_parse_arguments(T "AUDIO;QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${NAME} ${T_SOURCES})
  target_link_libraries(${NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${NAME} COMMAND ${NAME})
  set(env "GLIMMER_BUILD_DIR=${CMAKE_BINARY_DIR};GLIMMER_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_QT)
    set_target_properties(${NAME} PROPERTIES AUTOMOC ON)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(T_AUDIO)
    # The server and its client.conf (autospawn off) come from
    # tests/pulse-server.sh, started by the sound_server fixture in
    # tests/platform/CMakeLists.txt.
    list(APPEND env "PULSE_SERVER=unix:${CMAKE_BINARY_DIR}/pulse-test/runtime/pulse/native")
    list(APPEND env "PULSE_CLIENTCONFIG=${CMAKE_BINARY_DIR}/pulse-test/client.conf")
    list(APPEND env "GLIMMER_PULSE_DIR=${CMAKE_BINARY_DIR}/pulse-test")
    set_tests_properties(${NAME} PROPERTIES FIXTURES_REQUIRED sound_server RESOURCE_LOCK sound_server)
  endif()
  set_tests_properties(${NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()

# glimmer_glob(VAR DIR): the .cpp files of one folder, found again whenever
# a file is added, so that several people can add files without touching
# the folder's CMakeLists.txt.
function(glimmer_glob VAR DIR)
  file(GLOB files CONFIGURE_DEPENDS ${DIR}/*.cpp)
  set(${VAR} ${files} PARENT_SCOPE)
endfunction()
