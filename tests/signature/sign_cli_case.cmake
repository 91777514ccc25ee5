# One run of vanto-sign (cmake -P).
#   TOOL       the vanto-sign executable
#   ARGUMENTS  its arguments, separated by commas
#   STATUS     the expected exit status
#   TEXT       a regular expression that standard output (status 0) or standard error must match
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" ARGUMENTS "${ARGUMENTS}")
execute_process(COMMAND "${TOOL}" ${ARGUMENTS}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${result}, expected ${STATUS}\nout: ${output}\nerr: ${errors}")
endif()
if(STATUS EQUAL 0)
  set(checked "${output}")
else()
  set(checked "${errors}")
  if(NOT output STREQUAL "")
    message(FATAL_ERROR "a failed run printed to standard output: ${output}")
  endif()
endif()
if(NOT checked MATCHES "${TEXT}")
  message(FATAL_ERROR "'${TEXT}' not found in:\n${checked}")
endif()
