# Compiler warnings and sanitizers, applied per target.

if(FLASHTOOL_SANITIZE)
    add_compile_options(-fsanitize=${FLASHTOOL_SANITIZE} -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${FLASHTOOL_SANITIZE})
endif()

# For the C and C++ sources only: a target may also hold a resource script.
function(flashtool_warnings target)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall$<SEMICOLON>-Wextra>)
    if(FLASHTOOL_WERROR)
        target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
    endif()
endfunction()
