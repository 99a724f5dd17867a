# The layers, each its own library, linking only downward:
#
#   serial    <  bootloader  <  download  <  window_model  <  app / winapp
#   platform  <                            <  station  <  journal  <  cli
#
# platform stands beside serial: neither sees the other, and download is the
# lowest layer that links both.
#
# flashtool_layer(<target> <folder> [<lower layer targets>...])
#
# A layer's headers are included as "<folder>/name.h". The project's root is
# on no layer's include path: each target sees only its own folder and the
# folders of the layers it links, through a directory in the build tree that
# holds a link to each folder. An #include of a higher layer's header from a
# lower layer therefore fails to compile ("No such file or directory").
function(flashtool_layer target folder)
    set(root ${CMAKE_BINARY_DIR}/layers/${folder})
    if(NOT EXISTS ${root}/${folder})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
    if(ARGN)
        target_link_libraries(${target} PUBLIC ${ARGN})
    endif()
    flashtool_warnings(${target})
endfunction()
