# The two list models and the path tidying that feeds the input list.
add_executable(quillory_list_tests
    ListsTestMain.cpp
    inputs/FixPathTest.cpp
    inputs/InputFileListTest.cpp
    results/ResultsListTest.cpp
)
target_link_libraries(quillory_list_tests PRIVATE quillory_inputs quillory_results Qt6::Test GTest::gtest)
gtest_discover_tests(quillory_list_tests DISCOVERY_TIMEOUT 60)
