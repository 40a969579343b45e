# The clipboard hand-over at the program's end, on a virtual X display with a stand-in clipboard
# manager. X11 only: elsewhere there is no such manager to stand in for.
if(TARGET PkgConfig::XCB)
    add_executable(quillory_clipboard_manager_stand_in x11/ClipboardManagerStandIn.cpp)
    target_link_libraries(quillory_clipboard_manager_stand_in PRIVATE PkgConfig::XCB)

    add_executable(quillory_clipboard_hand_over_check x11/ClipboardHandOverCheck.cpp)
    target_link_libraries(quillory_clipboard_hand_over_check PRIVATE quillory_platform_widgets)

    add_test(NAME quillory_clipboard_hand_over
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/x11/clipboard-hand-over-test.sh
            $<TARGET_FILE:quillory_clipboard_hand_over_check> $<TARGET_FILE:quillory_clipboard_manager_stand_in>)
    # 77: no Xvfb to run on.
    set_tests_properties(quillory_clipboard_hand_over PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
