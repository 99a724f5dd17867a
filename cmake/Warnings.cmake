# Compiler warnings and sanitizers, applied per target.

if(FLASHTOOL_SANITIZE)
    add_compile_options(-fsanitize=${FLASHTOOL_SANITIZE} -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${FLASHTOOL_SANITIZE})
endif()

function(flashtool_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(FLASHTOOL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
