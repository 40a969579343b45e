# The icon, desktop entry, AppStream data and manual page that the package installs.
add_executable(quillory_icon_tests packaging/ProgramIconTest.cpp)
set_target_properties(quillory_icon_tests PROPERTIES AUTOMOC ON)
target_link_libraries(quillory_icon_tests PRIVATE quillory_app Qt6::Test)
add_test(NAME quillory_icon_tests COMMAND quillory_icon_tests)
set_tests_properties(quillory_icon_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

