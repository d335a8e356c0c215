# Installs into an empty prefix and checks what lands where.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(expected
    bin/quillo
    share/applications/${APP_ID}.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/icons/hicolor/32x32/apps/${APP_ID}.png
    share/icons/hicolor/64x64/apps/${APP_ID}.png
    share/icons/hicolor/256x256/apps/${APP_ID}.png
    share/icons/hicolor/scalable/apps/${APP_ID}.svg)
foreach(f IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
execute_process(COMMAND test -x ${PREFIX}/bin/quillo RESULT_VARIABLE not_executable)
if(not_executable)
    message(FATAL_ERROR "bin/quillo is not executable")
endif()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "unexpected files installed: ${installed}")
endif()

# The entry starts what was installed and names the installed icon.
file(READ ${PREFIX}/share/applications/${APP_ID}.desktop entry)
if(NOT entry MATCHES "\nExec=quillo\n" OR NOT entry MATCHES "\nIcon=${APP_ID}\n")
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
