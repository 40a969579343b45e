# The window, built offscreen over the fake dialogs, driven with Qt Test.
add_executable(quillory_window_tests
    app/MainWindowTest.cpp
    app/ErrorTrapTest.cpp
    app/RunTest.cpp
    app/ExportTest.cpp
    app/InputsTest.cpp
    app/QtDialogsTest.cpp
    app/WindowHarness.h
    app/WindowTestMain.cpp
)
set_target_properties(quillory_window_tests PROPERTIES AUTOMOC ON)
target_link_libraries(quillory_window_tests PRIVATE quillory_app quillory_test_support Qt6::Test)
target_compile_definitions(quillory_window_tests PRIVATE QUILLORY_WORKER_PATH="$<TARGET_FILE:quillory-worker>")
add_dependencies(quillory_window_tests quillory-worker)
add_test(NAME quillory_window_tests COMMAND quillory_window_tests)
set_tests_properties(quillory_window_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
