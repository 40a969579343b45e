include_guard(GLOBAL)
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
add_dependencies(quillory_window_tests quillory-worker)
if(WIN32)
    # Under Wine: the worker is started beside the tests, and the offscreen platform and the Qt Test log that
    # ctest shows are chosen inside the program (app/WindowTestMain.cpp), since Wine passes no QT_ variable in and
    # Qt Test's own log would go to the debugger.
    target_compile_definitions(quillory_window_tests PRIVATE QUILLORY_WORKER_PATH="quillory-worker.exe")
    add_custom_command(TARGET quillory_window_tests POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:quillory-worker>
                $<TARGET_FILE_DIR:quillory_window_tests>)
    add_test(NAME quillory_window_tests COMMAND quillory_window_tests)
    set_tests_properties(quillory_window_tests PROPERTIES ENVIRONMENT "WINEDEBUG=-all" TIMEOUT 600)
else()
    target_compile_definitions(quillory_window_tests PRIVATE QUILLORY_WORKER_PATH="$<TARGET_FILE:quillory-worker>")
    add_test(NAME quillory_window_tests COMMAND quillory_window_tests)
    set_tests_properties(quillory_window_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endif()
