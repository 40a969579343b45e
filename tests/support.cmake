include_guard(GLOBAL)
# The fakes of the platform services, shared by the GoogleTest and the Qt Test suites.
target_sources(quillory_test_support PRIVATE
    support/FakeDialogs.cpp support/FakeDialogs.h
    support/FakeEventPump.cpp support/FakeEventPump.h
)
target_link_libraries(quillory_test_support PUBLIC quillory_platform)
if(WIN32)
    # The window's workers looked for among the child processes, as Linux has them in tests/CMakeLists.txt.
    target_sources(quillory_test_support PRIVATE support/Processes.cpp support/Processes.h)
endif()

add_executable(quillory_platform_widget_tests
    platform/DialogFilterTest.cpp
    platform/CursorsTest.cpp
    support/FakeDialogsTest.cpp
)
target_link_libraries(quillory_platform_widget_tests PRIVATE quillory_platform_widgets quillory_test_support
    GTest::gtest_main)
if(WIN32)
    # Listed when the suite runs, under Wine; the offscreen platform is chosen inside the program
    # (platform/CursorsTest.cpp), since Wine passes no QT_ variable in.
    gtest_discover_tests(quillory_platform_widget_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
        PROPERTIES ENVIRONMENT WINEDEBUG=-all)
else()
    gtest_discover_tests(quillory_platform_widget_tests DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
