# SPDX-License-Identifier: GPL-3.0-or-later
# Every C++, C, CMake, shell and Python file of the project names its
# licence in its first three lines. Run as a test:
#   cmake -DSOURCE_DIR=<repository> -P licencelines.cmake
set(line "SPDX-License-Identifier: GPL-3.0-or-later")
set(folders app audio base bench cmake controls effects engine platform scripts tests tools)
set(files ${SOURCE_DIR}/CMakeLists.txt ${SOURCE_DIR}/run.sh ${SOURCE_DIR}/test.sh ${SOURCE_DIR}/.ci/run)
foreach(folder ${folders})
  file(GLOB_RECURSE found LIST_DIRECTORIES false
    ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.c
    ${SOURCE_DIR}/${folder}/*.cmake ${SOURCE_DIR}/${folder}/*.cmake.in ${SOURCE_DIR}/${folder}/*.sh
    ${SOURCE_DIR}/${folder}/*.py ${SOURCE_DIR}/${folder}/CMakeLists.txt)
  list(APPEND files ${found})
endforeach()
# Test data is not source.
list(FILTER files EXCLUDE REGEX "/tests/fuzz/(media-)?(corpus|crashers)/")
set(missing "")
foreach(file ${files})
  file(STRINGS ${file} head LIMIT_COUNT 3)
  string(FIND "${head}" "${line}" at)
  if(at EQUAL -1)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
    list(APPEND missing ${name})
  endif()
endforeach()
list(LENGTH files checked)
if(missing)
  list(JOIN missing "\n  " names)
  message(FATAL_ERROR "Without the licence line \"${line}\":\n  ${names}")
endif()
message(STATUS "${checked} files name their licence")
