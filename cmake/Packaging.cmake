# Installation and the Debian package.
#
# `cmake --install build` puts flashtool-cli (and the window programs flashtool
# and flashtool-station when they were built) into bin/, their desktop entries
# into share/applications/,
# the icon into the hicolor theme, flashtool-cli's manual page (gzipped) into
# share/man/man1/, its bash completion into share/bash-completion/completions/
# and the README into share/doc/flashtool/.
# `cpack` in the build directory turns the same rules into a .deb.
# A Windows build makes its installer instead (cmake/WindowsSetup.cmake).
include(GNUInstallDirs)

if(TARGET flashtool-cli)
    install(TARGETS flashtool-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET flashtool)
    install(TARGETS flashtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET flashtool-station)
    install(TARGETS flashtool-station RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET flashtool_win32)
    install(TARGETS flashtool_win32 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
    set(_packaging ${PROJECT_SOURCE_DIR}/packaging)
    install(FILES ${_packaging}/flashtool.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    if(TARGET flashtool-station)
        install(FILES ${_packaging}/flashtool-station.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    endif()
    install(FILES ${_packaging}/flashtool.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${_packaging}/flashtool-64.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
            RENAME flashtool.png)
    if(TARGET flashtool-cli)
        # The page carries the program's version; gzipped as Debian wants it,
        # with no time stamp, so that the same source gives the same package.
        set(_man ${CMAKE_BINARY_DIR}/packaging/flashtool-cli.1)
        configure_file(${_packaging}/flashtool-cli.1 ${_man} @ONLY)
        find_program(FLASHTOOL_GZIP gzip REQUIRED)
        execute_process(COMMAND ${FLASHTOOL_GZIP} -9nc ${_man} OUTPUT_FILE ${_man}.gz
                        COMMAND_ERROR_IS_FATAL ANY)
        install(FILES ${_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        install(FILES ${_packaging}/flashtool-cli.bash-completion
                DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
                RENAME flashtool-cli)
    endif()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(NOT WIN32)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME flashtool)
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_VENDOR "flashtool developers")
    set(CPACK_PACKAGE_CONTACT "flashtool developers <flashtool@localhost>")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "Firmware update tool for the Corvel M418 phone (window and command line)")
    set(CPACK_PACKAGE_DESCRIPTION
        "Updates the firmware of a Corvel M418 phone over the virtual serial port of its boot loader. flashtool is the window program, flashtool-station updates every phone that is plugged in, many at once; flashtool-cli runs the same update from a terminal and diagnoses port problems (flashtool-cli doctor).")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_STRIP_FILES ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # Library dependencies (libc, libstdc++, Qt 6) come from dpkg-shlibdeps.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The window's Chinese needs a Traditional Chinese font; without one it
    # shows boxes (and says so on standard error).
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
    include(CPack)
endif()
