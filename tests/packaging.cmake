# The icon, desktop entry, AppStream data and manual page that the package installs.
add_executable(quillory_icon_tests packaging/ProgramIconTest.cpp)
set_target_properties(quillory_icon_tests PROPERTIES AUTOMOC ON)
target_link_libraries(quillory_icon_tests PRIVATE quillory_app Qt6::Test)
add_test(NAME quillory_icon_tests COMMAND quillory_icon_tests)
set_tests_properties(quillory_icon_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_test(NAME quillory_man_page_matches_help
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/ManPageMatchesHelp.sh
            $<TARGET_FILE:quillory-extract> ${PROJECT_SOURCE_DIR}/packaging/quillory-extract.1)

# Validators from Debian's desktop-file-utils and appstream; where one is missing, its test is skipped.
set(validate ${CMAKE_CURRENT_SOURCE_DIR}/packaging/Validate.sh)
add_test(NAME quillory_desktop_entry_valid
    COMMAND bash ${validate} desktop-file-validate ${PROJECT_SOURCE_DIR}/packaging/com.quorvane.Quillory.desktop)
add_test(NAME quillory_metainfo_valid
    COMMAND bash ${validate} appstreamcli validate --no-net --strict
            ${PROJECT_SOURCE_DIR}/packaging/com.quorvane.Quillory.metainfo.xml)
set_tests_properties(quillory_desktop_entry_valid quillory_metainfo_valid PROPERTIES SKIP_RETURN_CODE 77)
