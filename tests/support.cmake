# The fakes of the platform services, shared by the GoogleTest and the Qt Test suites.
target_sources(quillory_test_support PRIVATE
    support/FakeDialogs.cpp support/FakeDialogs.h
    support/FakeEventPump.cpp support/FakeEventPump.h
)
target_link_libraries(quillory_test_support PUBLIC quillory_platform)

add_executable(quillory_platform_widget_tests
    platform/DialogFilterTest.cpp
    platform/CursorsTest.cpp
    support/FakeDialogsTest.cpp
)
target_link_libraries(quillory_platform_widget_tests PRIVATE quillory_platform_widgets quillory_test_support
    GTest::gtest_main)
gtest_discover_tests(quillory_platform_widget_tests DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
