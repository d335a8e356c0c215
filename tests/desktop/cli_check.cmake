# SPDX-License-Identifier: MIT
# quillo's command line, run with no display: each case is
# ARGUMENTS|EXIT STATUS|STDOUT REGEX|STDERR REGEX, arguments split at spaces.
set(cases
    "--help|0|^Usage: [^\n]*quillo \\[options\\] \\[FILE\\]\n.*--version|^$"
    "--version|0|^quillo 2\\.00\n$|^$"
    "-v|0|^quillo 2\\.00\n$|^$"
    "-platform offscreen -style=fusion --version|0|^quillo 2\\.00\n$|^$"
    "--bogus|2|^$|^quillo: [^\n]*'bogus'[^\n]*\nUsage: "
    "-platform|2|^$|^quillo: [^\n]*platform[^\n]*\nUsage: "
    "one.quillo extra|2|^$|^quillo: [^\n]*'extra'[^\n]*\nUsage: ")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 args)
    list(GET case 1 want_rc)
    list(GET case 2 want_out)
    list(GET case 3 want_err)
    separate_arguments(args UNIX_COMMAND "${args}")
    execute_process(COMMAND ${QUILLO} ${args} TIMEOUT 20
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc STREQUAL want_rc OR NOT out MATCHES "${want_out}" OR NOT err MATCHES "${want_err}")
        message(SEND_ERROR "quillo ${args}: exit ${rc}, wanted ${want_rc}\n"
                           "-- stdout:\n${out}\n-- stderr:\n${err}")
    endif()
endforeach()

# Help or version lost to a full device is a failure with a message.
foreach(option IN ITEMS --help --version)
    execute_process(COMMAND ${QUILLO} ${option} TIMEOUT 20 OUTPUT_FILE /dev/full
        RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc STREQUAL "1" OR NOT err STREQUAL "quillo: cannot write the output\n")
        message(SEND_ERROR "quillo ${option} >/dev/full: exit ${rc}\n${err}")
    endif()
endforeach()

# Started with no display to be had: one line naming what was tried, and
# status 1, not Qt's abort. Each case is VARIABLE=VALUE|WHAT WAS TRIED.
set(no_display
    "|DISPLAY and WAYLAND_DISPLAY are unset"
    "DISPLAY=:9797|X11 display \":9797\" refused the connection"
    "QT_QPA_PLATFORM=nosuch|platform plugin \"nosuch\" is missing")
foreach(case IN LISTS no_display)
    string(REGEX MATCH "^([A-Z_]*)=?([^|]*)\\|(.*)$" case "${case}")
    if(CMAKE_MATCH_1)
        set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
    endif()
    execute_process(COMMAND ${QUILLO} TIMEOUT 20
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc STREQUAL "1" OR NOT out STREQUAL ""
       OR NOT err STREQUAL "quillo: no display could be reached (${CMAKE_MATCH_3})\n")
        message(SEND_ERROR "quillo with ${CMAKE_MATCH_1}=${CMAKE_MATCH_2}: exit ${rc}\n"
                           "-- stderr:\n${err}")
    endif()
    if(CMAKE_MATCH_1)
        unset(ENV{${CMAKE_MATCH_1}})
    endif()
endforeach()
