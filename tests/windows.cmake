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

# --- The system's ANSI code page: a Japanese Windows (932, two bytes for a kanji) and the clipboard. ---
# Wine takes its ANSI code page from the locale it starts in: LC_ALL=ja_JP.UTF-8 gives GetACP() 932 (LANG alone does
# not when LC_ALL is set). The 932 tests skip in any other locale; the rest of the engine's suite expects 1252.
target_sources(quillory_engine_tests PRIVATE windows/CodePage932Test.cpp)
set(quillory_japanese_wine WINEDEBUG=-all LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8)
add_test(NAME quillory_engine_tests_cp932
    COMMAND quillory_engine_tests --gtest_filter=CodePage932.*)
set_tests_properties(quillory_engine_tests_cp932 PROPERTIES ENVIRONMENT "${quillory_japanese_wine}")

# Saving over a file in a folder that refuses new files: a folder locked by the file system (tests/windows/
# LockedFolder.sh), since under Wine an administrator passes every permission.
target_sources(quillory_engine_tests PRIVATE windows/LockedFolderSaveTest.cpp)
set(quillory_locked_folder ${CMAKE_CURRENT_BINARY_DIR}/locked-folder)
add_test(NAME windows_locked_folder_lock
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/LockedFolder.sh lock ${quillory_locked_folder})
add_test(NAME windows_locked_folder_unlock
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/LockedFolder.sh unlock ${quillory_locked_folder})
add_test(NAME quillory_engine_tests_locked_folder COMMAND quillory_engine_tests --gtest_filter=LockedFolderSave.*)
set_tests_properties(windows_locked_folder_lock PROPERTIES FIXTURES_SETUP locked_folder)
set_tests_properties(windows_locked_folder_unlock PROPERTIES FIXTURES_CLEANUP locked_folder)
set_tests_properties(quillory_engine_tests_locked_folder PROPERTIES FIXTURES_REQUIRED locked_folder
    ENVIRONMENT "WINEDEBUG=-all;QUILLORY_LOCKED_FOLDER=Z:${quillory_locked_folder}")

# The clipboard as another program pastes it (CF_TEXT, CF_UNICODETEXT), and the text handed over at the program's
# end, in both code pages. Disabled: under Wine 8 the text Qt offers through OLE reaches a Win32 reader empty
# (GetClipboardData(CF_TEXT) gives a 3-byte block, CF_UNICODETEXT a lone NUL), with or without a display, while
# text put there with SetClipboardData reads back whole, in the code page, even after its program has ended.
add_executable(quillory_windows_clipboard_tests windows/ClipboardTest.cpp support/PastedText.cpp support/PastedText.h)
target_link_libraries(quillory_windows_clipboard_tests PRIVATE quillory_results quillory_platform_widgets
    quillory_test_support)
foreach(locale IN ITEMS cp1252 cp932)
    add_test(NAME quillory_windows_clipboard_${locale} COMMAND quillory_windows_clipboard_tests)
endforeach()
set_tests_properties(quillory_windows_clipboard_cp1252 PROPERTIES ENVIRONMENT "WINEDEBUG=-all;LC_ALL=en_US.UTF-8")
set_tests_properties(quillory_windows_clipboard_cp932 PROPERTIES ENVIRONMENT "${quillory_japanese_wine}")
# One clipboard for the whole Wine prefix: the two must not run at once.
set_tests_properties(quillory_windows_clipboard_cp1252 quillory_windows_clipboard_cp932
    PROPERTIES RESOURCE_LOCK wine_clipboard DISABLED TRUE)

# The command line's suites: quillory-extract.exe run as a user runs it (its rows, formats, saves, messages, workers,
# Ctrl+C and progress line), started from beside the tests. The tests that need POSIX (signals sent with kill,
# resource limits, FIFOs, /dev/full, another user) are left out in the files themselves, each with its reason.
# (support.cmake gives the library the child processes.)
target_sources(quillory_test_support PRIVATE support/ConsoleKeys.cpp support/ConsoleKeys.h)
add_executable(quillory_cli_tests cli/CliTest.cpp cli/CliTargetsTest.cpp cli/CliStopTest.cpp cli/RowFormatsTest.cpp
    cli/ProgressLineTest.cpp ${PROJECT_SOURCE_DIR}/cli/RowFormats.cpp ${PROJECT_SOURCE_DIR}/cli/ProgressLine.cpp)
target_include_directories(quillory_cli_tests PRIVATE ${PROJECT_SOURCE_DIR}/cli)
target_link_libraries(quillory_cli_tests PRIVATE quillory_test_support quillory_extract GTest::gtest_main)
target_compile_definitions(quillory_cli_tests PRIVATE QUILLORY_EXTRACT_PATH="quillory-extract.exe")
add_dependencies(quillory_cli_tests quillory-extract)
add_custom_command(TARGET quillory_cli_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:quillory-extract> $<TARGET_FILE_DIR:quillory_cli_tests>)
gtest_discover_tests(quillory_cli_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT WINEDEBUG=-all)
