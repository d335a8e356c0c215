# SPDX-License-Identifier: MIT
# A manual page formats without a single warning and names every option that
# the program's --help lists.
execute_process(COMMAND ${GROFF} -ww -z -man ${PAGE} RESULT_VARIABLE rc ERROR_VARIABLE warnings)
if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${PAGE}: groff exit ${rc}\n${warnings}")
endif()

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
string(REGEX MATCHALL "--[a-z][a-z-]*" options "${help}")
list(REMOVE_DUPLICATES options)
if(NOT rc EQUAL 0 OR NOT options)
    message(FATAL_ERROR "${PROGRAM} --help: exit ${rc}, options: ${options}")
endif()
file(READ ${PAGE} page)
string(REPLACE "\\-" "-" page "${page}")
foreach(option IN LISTS options)
    if(NOT page MATCHES "${option}([^a-z-]|$)")
        message(SEND_ERROR "${PAGE} does not mention ${option}")
    endif()
endforeach()
