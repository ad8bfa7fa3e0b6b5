# Warnings and sanitizers shared by every target of the project.
add_library(gateway_options INTERFACE)
target_compile_options(gateway_options INTERFACE -Wall -Wextra)
if(WARNINGS_AS_ERRORS)
    target_compile_options(gateway_options INTERFACE -Werror)
endif()
if(GATEWAY_SANITIZE)
    target_compile_options(gateway_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(gateway_options INTERFACE -fsanitize=address,undefined)
endif()
if(GATEWAY_FUZZ)
    # Coverage for libFuzzer in every library the fuzz targets link.
    target_compile_options(gateway_options INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(gateway_options INTERFACE -fsanitize=address,undefined)
endif()

function(gateway_target_options target)
    target_link_libraries(${target} PRIVATE gateway_options)
endfunction()

# gateway_add_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(gateway_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "gateway_add_library: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    qt_add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE gateway_options ${ARG_PRIVATE_LIBS})
endfunction()
