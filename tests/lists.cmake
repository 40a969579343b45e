# The two list models, the path tidying and folder walk that feed the input list, and the saves of the results.
add_executable(quillory_list_tests
    ListsTestMain.cpp
    inputs/AddFolderTest.cpp
    inputs/FixPathTest.cpp
    inputs/InputFileListTest.cpp
    inputs/SampleFilesTest.cpp
    results/ResultsExportTest.cpp
    results/ResultsListTest.cpp
)
target_link_libraries(quillory_list_tests PRIVATE quillory_inputs quillory_results Qt6::Test GTest::gtest)
target_link_libraries(quillory_list_tests PRIVATE quillory_test_support)
if(WIN32)
    # Hidden, system and read-only entries and links, made with the system's own calls.
    target_sources(quillory_list_tests PRIVATE support/WindowsFiles.cpp support/WindowsFiles.h)
    # The fake event pump, which only the Linux build puts in the fakes' library (support.cmake).
    get_target_property(support_sources quillory_test_support SOURCES)
    if(NOT "support/FakeEventPump.cpp" IN_LIST support_sources)
        target_sources(quillory_list_tests PRIVATE support/FakeEventPump.cpp support/FakeEventPump.h)
    endif()
    # The repository's samples are copied beside the program, where the test looks for a relative folder: the
    # source tree's own path means nothing to the Windows program.
    target_compile_definitions(quillory_list_tests PRIVATE QUILLORY_SAMPLES_SOURCE="samples")
    add_custom_command(TARGET quillory_list_tests POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/samples
                $<TARGET_FILE_DIR:quillory_list_tests>/samples)
    gtest_discover_tests(quillory_list_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
        PROPERTIES ENVIRONMENT WINEDEBUG=-all)
else()
    target_compile_definitions(quillory_list_tests PRIVATE QUILLORY_SAMPLES_SOURCE="${CMAKE_SOURCE_DIR}/samples")
    gtest_discover_tests(quillory_list_tests DISCOVERY_TIMEOUT 60)
endif()
