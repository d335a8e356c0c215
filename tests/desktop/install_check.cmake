# SPDX-License-Identifier: MIT
# Installs into an empty prefix and checks what lands where.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(icon_sizes 16 22 24 32 48 64 128 256)
set(expected
    bin/quillo
    bin/quillo-keys
    lib/quillo/plugins/quillo-print.so
    share/applications/${APP_ID}.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/mime/packages/${APP_ID}.xml
    share/icons/hicolor/scalable/apps/${APP_ID}.svg
    share/man/man1/quillo.1.gz
    share/man/man1/quillo-keys.1.gz
    share/doc/quillo/LICENSE
    share/doc/quillo/README.md)
foreach(size IN LISTS icon_sizes)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
endforeach()
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "installed:\n${installed}\nexpected:\n${expected}")
endif()
foreach(program quillo quillo-keys)
    execute_process(COMMAND test -x ${PREFIX}/bin/${program} RESULT_VARIABLE not_executable)
    if(not_executable)
        message(FATAL_ERROR "bin/${program} is not executable")
    endif()
endforeach()

# Each icon is as large as the folder it is in says (PNG: width and height
# are the big-endian words at byte 16 and 20).
foreach(size IN LISTS icon_sizes)
    file(READ ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png header
         OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING ${header} 0 8 w)
    string(SUBSTRING ${header} 8 8 h)
    math(EXPR w "0x${w}")
    math(EXPR h "0x${h}")
    if(NOT w EQUAL size OR NOT h EQUAL size)
        message(FATAL_ERROR "the ${size}x${size} icon is ${w}x${h}")
    endif()
endforeach()

# The entry starts what was installed and names the installed icon.
file(READ ${PREFIX}/share/applications/${APP_ID}.desktop entry)
if(NOT entry MATCHES "\nExec=quillo %f\n" OR NOT entry MATCHES "\nIcon=${APP_ID}\n")
    message(FATAL_ERROR "desktop entry does not match the install:\n${entry}")
endif()
file(READ ${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml meta)
if(NOT meta MATCHES "<launchable type=\"desktop-id\">${APP_ID}.desktop</launchable>")
    message(FATAL_ERROR "metainfo does not launch the installed entry")
endif()

# Qt comes from the system, so the program carries no run path; an empty
# entry in one would make the loader search the current directory.
find_program(READELF readelf)
if(READELF)
    foreach(binary ${PREFIX}/bin/quillo ${BUILD}/bin/quillo)
        execute_process(COMMAND ${READELF} -d ${binary} OUTPUT_VARIABLE dynamic)
        if(dynamic MATCHES "R(UN)?PATH")
            message(FATAL_ERROR "${binary} carries a run path:\n${dynamic}")
        endif()
    endforeach()
endif()
