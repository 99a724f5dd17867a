# The Windows installer flashtool-setup-<version>.exe, made with makensis
# (Debian's nsis) from packaging/windows/flashtool-setup.nsi: the window,
# the station window, the command-line tool and Installer.dll, stripped of their debugging
# information, and the README. Built with the rest of a Windows build when
# makensis is found.
find_program(FLASHTOOL_MAKENSIS makensis)
if(NOT FLASHTOOL_MAKENSIS OR NOT TARGET flashtool_win32 OR NOT TARGET flashtool_station_win32
   OR NOT TARGET flashtool-cli
   OR NOT TARGET Installer)
    return()
endif()

set(_stage ${CMAKE_BINARY_DIR}/setup-stage)
set(FLASHTOOL_SETUP_EXE ${CMAKE_BINARY_DIR}/flashtool-setup-${PROJECT_VERSION}.exe)
set(_script ${PROJECT_SOURCE_DIR}/packaging/windows/flashtool-setup.nsi)
add_custom_command(OUTPUT ${FLASHTOOL_SETUP_EXE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
    COMMAND ${CMAKE_STRIP} -o ${_stage}/flashtool.exe $<TARGET_FILE:flashtool_win32>
    COMMAND ${CMAKE_STRIP} -o ${_stage}/flashtool-station.exe
            $<TARGET_FILE:flashtool_station_win32>
    COMMAND ${CMAKE_STRIP} -o ${_stage}/flashtool-cli.exe $<TARGET_FILE:flashtool-cli>
    COMMAND ${CMAKE_STRIP} -o ${_stage}/Installer.dll $<TARGET_FILE:Installer>
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${_stage}/README.md
    COMMAND ${FLASHTOOL_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${_stage}
            -DICON=${PROJECT_SOURCE_DIR}/winapp/flashtool.ico -DOUTFILE=${FLASHTOOL_SETUP_EXE}
            ${_script}
    DEPENDS ${_script} ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/winapp/flashtool.ico
            flashtool_win32 flashtool_station_win32 flashtool-cli Installer
    COMMENT "makensis: flashtool-setup-${PROJECT_VERSION}.exe"
    VERBATIM)
add_custom_target(flashtool_setup ALL DEPENDS ${FLASHTOOL_SETUP_EXE})
