# Compile settings shared by every target of the project.
add_library(velmora_common INTERFACE)
target_compile_features(velmora_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(velmora_common INTERFACE -Wall -Wextra -Wshadow -Wpedantic -Wconversion
    -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(velmora_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_FOREACH
    QT_DISABLE_DEPRECATED_BEFORE=0x060400
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER)

# Every program is position independent.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
if(VELMORA_WERROR)
    target_compile_options(velmora_common INTERFACE -Werror)
endif()
if(VELMORA_SANITIZE AND VELMORA_TSAN)
    message(FATAL_ERROR "VELMORA_SANITIZE and VELMORA_TSAN exclude each other")
endif()
if(VELMORA_TSAN)
    target_compile_options(velmora_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(velmora_common INTERFACE -fsanitize=thread)
elseif(VELMORA_SANITIZE)
    target_compile_options(velmora_common INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(velmora_common INTERFACE -fsanitize=address,undefined)
else()
    # Hardening of the optimised builds (fortify needs the optimiser).
    set(_release $<CONFIG:Release,RelWithDebInfo>)
    target_compile_options(velmora_common INTERFACE
        $<${_release}:-U_FORTIFY_SOURCE> $<${_release}:-D_FORTIFY_SOURCE=2>
        $<${_release}:-fstack-protector-strong> $<${_release}:-fstack-clash-protection>
        $<${_release}:-fcf-protection>)
    target_link_options(velmora_common INTERFACE $<${_release}:LINKER:-z,relro,-z,now>)
endif()

# The version the commands report (--version), in a generated header of its own so that only
# the programs' main files see it.
configure_file(${CMAKE_CURRENT_LIST_DIR}/BuildVersion.h.in
    ${CMAKE_BINARY_DIR}/generated/BuildVersion.h @ONLY)
add_library(velmora_version INTERFACE)
target_include_directories(velmora_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
