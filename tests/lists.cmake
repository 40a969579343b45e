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
# The samples beside the program are made from the repository's own folder.
target_link_libraries(quillory_list_tests PRIVATE quillory_test_support)
target_compile_definitions(quillory_list_tests PRIVATE QUILLORY_SAMPLES_SOURCE="${CMAKE_SOURCE_DIR}/samples")
gtest_discover_tests(quillory_list_tests DISCOVERY_TIMEOUT 60)
