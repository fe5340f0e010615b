# Runs one example program and fails unless it ends with the expected exit status.
string(REPLACE "|" ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${PROGRAM} ${arguments} RESULT_VARIABLE status)
if(NOT status STREQUAL EXPECTED_STATUS)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}, expected ${EXPECTED_STATUS}")
elseif(NOT status STREQUAL "0")
  message("(exit status ${status}, as expected)")
endif()
