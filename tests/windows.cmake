# The suites of the Windows build, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR, which scripts/build-windows.sh
# sets). The engine's suite (tests/CMakeLists.txt) runs as on Linux. Left out so far: the suites that drive POSIX
# processes and permissions (the command line's signals, the unprivileged-user checks, the folder walk's Linux
# attribute rules).

# Settings in the registry, as Windows keeps them.
target_sources(quillory_engine_tests PRIVATE platform/RegistrySettingsTest.cpp)
target_compile_definitions(quillory_engine_tests PRIVATE QUILLORY_WORKER_PATH="quillory-worker.exe")
# The worker is started beside the tests.
add_custom_command(TARGET quillory_engine_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:quillory-worker> $<TARGET_FILE_DIR:quillory_engine_tests>)
gtest_discover_tests(quillory_engine_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT WINEDEBUG=-all)

# The window's suites (tests/support.cmake, tests/window.cmake): the window offscreen over the fake dialogs, its
# workers, saves and clipboard, and the widgets' adapters.
include(${CMAKE_CURRENT_SOURCE_DIR}/support.cmake)
include(${CMAKE_CURRENT_SOURCE_DIR}/window.cmake)

# The rows of the Windows command line against the Linux one's, byte for byte, over a generated corpus (the Linux
# build named by QUILLORY_LINUX_BUILD, which scripts/build-windows.sh sets, makes the corpus and the rows to match).
set(QUILLORY_LINUX_BUILD "" CACHE PATH "The Linux build tree whose quillory-extract the Windows one is compared with")
if(QUILLORY_LINUX_BUILD)
    add_test(NAME windows_rows_match_linux
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/RowsMatchLinux.sh ${QUILLORY_LINUX_BUILD}/cli/quillory-extract
                $<TARGET_FILE:quillory-extract> ${QUILLORY_LINUX_BUILD}/bench/quillory-corpus)
endif()

# The list models, the path tidying and the folder walk with the system's own attributes, and the results' saves.
include(${CMAKE_CURRENT_SOURCE_DIR}/lists.cmake)
