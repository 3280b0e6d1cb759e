# Real widgets, driven offscreen: the toolkit's controls and the windows built on them.
file(GLOB GUI_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/toolkit/*_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/toolkit/*.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/*_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h)
add_executable(gui_tests ${CMAKE_CURRENT_SOURCE_DIR}/gui_main.cpp ${GUI_TEST_SOURCES})
target_include_directories(gui_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(gui_tests PRIVATE pagorin_toolkit pagorin_windows Qt6::Test pagorin_warnings GTest::gtest)
# Discovery runs at test time, inside CTest's environment; main() picks the offscreen platform itself.
# A dialog a test fails to answer would wait forever: a timeout turns that into a failure.
# Under ThreadSanitizer only the windows' tests that run a search or a chapter scan are of interest:
# the rest never leaves the GUI thread.
set(GUI_TEST_FILTER "*")
if(PAGORIN_THREAD_SANITIZE)
  set(GUI_TEST_FILTER "*Find*:*Search*:*Chapter*:*TableOfContents*")
endif()
gtest_discover_tests(gui_tests DISCOVERY_MODE PRE_TEST TEST_FILTER "${GUI_TEST_FILTER}"
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)

# The smoke test starts the real program.
add_dependencies(gui_tests pagorin)
target_compile_definitions(gui_tests PRIVATE PAGORIN_BINARY="$<TARGET_FILE:pagorin>")
