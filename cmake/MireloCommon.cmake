# Settings every Mirelo target shares: language level, warnings and Qt safety defines.
add_library(mirelo_common INTERFACE)
target_compile_features(mirelo_common INTERFACE cxx_std_20)
target_compile_options(mirelo_common INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
target_compile_definitions(mirelo_common INTERFACE
    QT_NO_KEYWORDS
    QT_NO_FOREACH
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING)
if(MIRELO_WERROR)
    target_compile_options(mirelo_common INTERFACE -Werror)
endif()
if(MIRELO_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "MIRELO_FUZZ needs clang: configure a fresh build folder with -DCMAKE_CXX_COMPILER=clang++.")
    endif()
    # Coverage feedback for libFuzzer in every project file the targets reach; the targets
    # add libFuzzer's own main.
    target_compile_options(mirelo_common INTERFACE -fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer)
    target_link_options(mirelo_common INTERFACE -fsanitize=address)
endif()
if(MIRELO_SANITIZE)
    target_compile_options(mirelo_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                   -fno-sanitize-recover=undefined)
    target_link_options(mirelo_common INTERFACE -fsanitize=address,undefined)
    target_compile_definitions(mirelo_common INTERFACE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()

# mirelo_add_test(NAME name SOURCES a.cpp... [LIBS lib...] [TIMEOUT s] [LABELS l...])
# Every test runs through run-isolated, which gives it a fresh temporary HOME and XDG
# folders, so no test reads or writes the user's own files; widgets render offscreen.
function(mirelo_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE mirelo_common mirelo_testsupport Qt6::Test ${T_LIBS})
    add_test(NAME ${T_NAME}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/support/run-isolated $<TARGET_FILE:${T_NAME}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;QT_LOGGING_RULES=qt.qpa.*=false")
endfunction()
