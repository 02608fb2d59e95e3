# Compile settings shared by every target of the project.
add_library(velmora_common INTERFACE)
target_compile_features(velmora_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(velmora_common INTERFACE -Wall -Wextra)
target_compile_definitions(velmora_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER)
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
    target_compile_options(velmora_common INTERFACE
        $<$<CONFIG:Release,RelWithDebInfo>:-fstack-protector-strong>
        $<$<CONFIG:Release,RelWithDebInfo>:-D_FORTIFY_SOURCE=2>)
endif()
