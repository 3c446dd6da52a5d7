# Runs nolvexa-scan over folders of clean programs and fails when it reports any match: a
# false positive there would make the removal tool delete a sound file.
#   cmake -DSCANNER=path/to/nolvexa-scan -DFOLDERS=dir1|dir2 -P clean_corpus.cmake
string(REPLACE "|" ";" folders "${FOLDERS}")
execute_process(COMMAND "${SCANNER}" ${folders}
                RESULT_VARIABLE result OUTPUT_VARIABLE reported ERROR_VARIABLE summary)
# The scanner's summary line: how many files it saw and scanned.
message(STATUS "nolvexa-scan ${FOLDERS}: ${summary}")
if(reported MATCHES "[^\n]+: [^\n]+")
  message(FATAL_ERROR "clean files were reported as matches:\n${reported}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nolvexa-scan exited with ${result}")
endif()
