# SPDX-License-Identifier: MIT
# Runs quillo-keys as a user would and checks exit codes and messages.
function(run_tool input expect_rc out_var err_var)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cli_input.txt "${input}")
    execute_process(COMMAND ${TOOL} ${ARGN}
        INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/cli_input.txt
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc STREQUAL expect_rc)
        message(FATAL_ERROR "quillo-keys ${ARGN}: exit ${rc}, wanted ${expect_rc}\n${out}\n${err}")
    endif()
    set(${out_var} "${out}" PARENT_SCOPE)
    set(${err_var} "${err}" PARENT_SCOPE)
endfunction()

run_tool("1\n2\n+\n3\n=\n" 0 out err)
if(NOT out STREQUAL "1\t|1.|\n2\t|12.|\n+\t|12.|\n3\t|3.|\n=\t|15|\n")
    message(FATAL_ERROR "unexpected output:\n${out}")
endif()

run_tool("" 0 out err)
if(NOT out STREQUAL "")
    message(FATAL_ERROR "empty input printed: ${out}")
endif()

run_tool("8\n/\n0\n=\n3\nx^2\n5\n" 0 out err)
if(NOT out MATCHES "=\t\\|8\\.\\|\twarning\n" OR NOT out MATCHES "5\t\\| 9\\|\terror:invalid-argument\n")
    message(FATAL_ERROR "warning or error line missing:\n${out}")
endif()

run_tool("1\nplus\n2\n" 2 out err)
if(NOT out STREQUAL "1\t|1.|\n" OR NOT err MATCHES "line 2" OR NOT err MATCHES "plus")
    message(FATAL_ERROR "bad caption not reported as wanted:\n${out}\n${err}")
endif()

run_tool("1\n" 2 out err --bogus)
if(NOT err MATCHES "--bogus")
    message(FATAL_ERROR "unknown option not named: ${err}")
endif()

run_tool("7" 0 out err --state)
if(NOT out MATCHES "^7\t\\|7\\.\\|\tFirstNumber=empty SecondNumber=empty DecimalTyped=bool:0 OperandCount=int:0 EntryState=text:\\|NUMS\\| PendingOperator=text:\\| \\| DisplayValue=empty\n$")
    message(FATAL_ERROR "--state line unexpected: ${out}")
endif()

# Keys copied with their start cut: replayed, with a word that they may differ.
run_tool("# the keys before this line were not kept\n4\n" 0 out err)
if(NOT out STREQUAL "4\t|4.|\n" OR NOT err MATCHES "line 1: .*not kept")
    message(FATAL_ERROR "cut line not understood:\n${out}\n${err}")
endif()

foreach(option IN ITEMS --version -v)
    run_tool("" 0 out err ${option})
    if(NOT out STREQUAL "quillo-keys ${VERSION}\n" OR NOT err STREQUAL "")
        message(FATAL_ERROR "quillo-keys ${option}: ${out}${err}")
    endif()
endforeach()

# Output lost to a full device fails with a message, whatever was written.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cli_input.txt "1\n")
foreach(option IN ITEMS --help --version --state)
    execute_process(COMMAND ${TOOL} ${option} INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/cli_input.txt
        OUTPUT_FILE /dev/full RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc STREQUAL "1" OR NOT err STREQUAL "quillo-keys: cannot write the output\n")
        message(FATAL_ERROR "quillo-keys ${option} >/dev/full: exit ${rc}\n${err}")
    endif()
endforeach()

# A reused result that follows its line takes the line's result as the keys
# now make it; a link to a key that wrote no line is refused, its line named.
run_tool("2\n+\n3\n=\nuse 15 @4\n+\n5\n=\n" 0 out err)
if(NOT out MATCHES "use 5 @4\t\\|5\\|\n" OR NOT out MATCHES "=\t\\|10\\|\n$")
    message(FATAL_ERROR "followed line not taken:\n${out}")
endif()
run_tool("1\n+\n2\n=\nuse 3 @2\n" 2 out err)
if(NOT err MATCHES "line 5: .*@2")
    message(FATAL_ERROR "link to no line not refused as wanted:\n${out}\n${err}")
endif()
