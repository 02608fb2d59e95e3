# velmora_add_library(<name> SOURCES ... [DEPENDS ...] [PRIVATE_DEPENDS ...])
#
# One static library of the tree: its headers are included from the source root
# ("market/Catalogue.h"), it takes the shared compile settings, and DEPENDS names the libraries
# its headers need (public) while PRIVATE_DEPENDS names those only its sources use.
function(velmora_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "velmora_add_library(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC velmora_common ${ARG_DEPENDS})
    if(ARG_PRIVATE_DEPENDS)
        target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_DEPENDS})
    endif()
endfunction()
