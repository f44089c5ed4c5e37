# Flags shared by every target of the project, carried by one INTERFACE target.
add_library(vc_common INTERFACE)
target_compile_options(vc_common INTERFACE -Wall -Wextra)
if(VC_WARNINGS_AS_ERRORS)
    target_compile_options(vc_common INTERFACE -Werror)
endif()
target_compile_definitions(vc_common INTERFACE
    QT_NO_KEYWORDS
    QT_USE_QSTRINGBUILDER)
# Assertions stay live in every build the tests and CI use, optimised ones included: Qt's CMake package
# defines QT_NO_DEBUG outside Debug, which would otherwise compile every Q_ASSERT away.
if(VC_ASSERTIONS)
    target_compile_definitions(vc_common INTERFACE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()

if(VC_SANITIZE_ADDRESS)
    set(_vc_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_compile_options(vc_common INTERFACE ${_vc_san})
    target_link_options(vc_common INTERFACE ${_vc_san})
endif()
if(VC_SANITIZE_THREAD)
    set(_vc_san -fsanitize=thread -fno-omit-frame-pointer)
    target_compile_options(vc_common INTERFACE ${_vc_san})
    target_link_options(vc_common INTERFACE ${_vc_san})
endif()

# Fuzzing: every library gets libFuzzer's coverage instrumentation and the address and undefined-behaviour
# checks; only the fuzz targets link libFuzzer's driver (fuzz/CMakeLists.txt).
if(VC_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "VC_BUILD_FUZZERS needs clang for libFuzzer (-DCMAKE_CXX_COMPILER=clang++)")
    endif()
    set(_vc_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_compile_options(vc_common INTERFACE -fsanitize=fuzzer-no-link ${_vc_san})
    target_link_options(vc_common INTERFACE ${_vc_san})
endif()

# Linked into every executable (an OBJECT library, so exactly once each).
add_library(vc_sanitizer_defaults OBJECT ${CMAKE_CURRENT_LIST_DIR}/SanitizerDefaults.cpp)
