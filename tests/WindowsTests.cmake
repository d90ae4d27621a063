# The tests of the Windows build, run under Wine. Test lists are read when
# ctest runs, not at build time, so the build needs no Wine.

# The core tests that mean the same on both systems.
add_executable(core_tests
  text/TextRulesTest.cpp
  text/CodecTest.cpp
  text/IniFileTest.cpp
  text/ShellLinkTest.cpp
  log/FormatTimeTest.cpp
  log/EventListTest.cpp
  log/LogOutputTest.cpp
  monitor/EventFilterTest.cpp
  monitor/DecodeTest.cpp
  monitor/WriteTrackerTest.cpp
  monitor/SourceReportTest.cpp
  monitor/NotificationQueueTest.cpp
  monitor/WatchRootsTest.cpp
  rules/RuleFileTest.cpp
  rules/RulePathTest.cpp
  rules/ActionJournalTest.cpp
  rules/RulePreviewTest.cpp
  rules/WholeFileTest.cpp
  platform/StoredFileTest.cpp
  platform/WindowsFileTest.cpp
  platform/WindowsGuardTest.cpp
  engine/StoredFilesTest.cpp
  engine/ProgramDirTest.cpp
  ${vantrel_stored_files}
)
target_link_libraries(core_tests PRIVATE vantrel_core GTest::gtest_main)
vantrel_test_headers(core_tests)
gtest_discover_tests(core_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES LABELS windows-fast)

# Proves which ANSI code page a run had: test.sh runs the suite once per
# code page and says which one it expects.
add_executable(code_page_probe platform/CodePageProbe.cpp)
add_test(NAME windows_code_page COMMAND code_page_probe)
set_tests_properties(windows_code_page PROPERTIES LABELS windows-fast)

# The change source on real folders. New files are told after a second of
# quiet, and one test makes 20,000 of them: minutes, not seconds.
add_executable(windows_source_tests monitor/WindowsSourceTest.cpp)
target_link_libraries(windows_source_tests PRIVATE vantrel_core GTest::gtest_main)
vantrel_test_headers(windows_source_tests core_tests)
# One label per test, for `ctest -L` (a pattern): windows-fast runs in-process
# only, windows-live on real folders and programs. The burst depends on no
# code page: it runs in the first run only, which `ctest -LE once` leaves out.
gtest_discover_tests(windows_source_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "-*TwentyThousand*"
  PROPERTIES TIMEOUT 300 LABELS windows-live)
gtest_discover_tests(windows_source_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "*TwentyThousand*"
  PROPERTIES TIMEOUT 300 COST 1000 LABELS windows-live-once)

# The rule actions on real folders (the tests both systems share and those
# of what only Windows has), and a program for the program action to
# start that tells what it was given.
add_executable(windows_actions_tests rules/WindowsActionsTest.cpp rules/FileActionsTest.cpp)
target_link_libraries(windows_actions_tests PRIVATE vantrel_core GTest::gtest_main)
vantrel_test_headers(windows_actions_tests core_tests)
add_executable(argv_recorder rules/ArgvRecorder.cpp)
target_link_options(argv_recorder PRIVATE -municode)
add_dependencies(windows_actions_tests argv_recorder)

# Wine makes no junction, but shows a Unix link to a folder as a reparse
# point: where the tests run on a Unix host, it makes the links the
# reparse-point test needs, afresh per run.
if(CMAKE_HOST_UNIX)
  set(vantrel_unix_links ${CMAKE_CURRENT_BINARY_DIR}/unix-links)
  add_test(NAME windows_unix_links COMMAND sh -c [[
    set -e; d="$1"; rm -rf "$d"; mkdir -p "$d/outside" "$d/empty" "$d/in/del" "$d/in/src" "$d/out"
    printf keep >"$d/outside/keep.txt"
    for l in out/tree in/del/j in/src/j; do ln -s "$d/outside" "$d/$l"; done; ln -s "$d/empty" "$d/in/del/e"]]
    sh ${vantrel_unix_links})
  set_tests_properties(windows_unix_links PROPERTIES FIXTURES_SETUP unix_links LABELS windows-live)
  set(vantrel_link_properties ENVIRONMENT "VANTREL_UNIX_LINKS=Z:${vantrel_unix_links}" FIXTURES_REQUIRED unix_links)
endif()
gtest_discover_tests(windows_actions_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES LABELS windows-live ${vantrel_link_properties})

# The program without a window under Wine, on real folders: data.jl written
# by the Windows build of the rule-file writer, and the recorder above as
# the program rule's program.
if(TARGET vantrel-headless)
  add_executable(write_rule_file app/WriteRuleFile.cpp)
  target_link_libraries(write_rule_file PRIVATE vantrel_core)
  add_test(NAME windows_headless
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/headless/windows_headless_test.sh ${VANTREL_WINEPREFIX}
            $<TARGET_FILE:vantrel-headless> $<TARGET_FILE:write_rule_file> $<TARGET_FILE:argv_recorder>)
  # Alone: a burst of 20,000 files beside other tests measures the machine.
  set_tests_properties(windows_headless PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE LABELS windows-live)
endif()

# The engine with the directory-reads source on a real folder.
add_executable(windows_engine_tests engine/WindowsEngineTest.cpp engine/LiveEngineTest.cpp)
target_link_libraries(windows_engine_tests PRIVATE vantrel_core GTest::gtest_main)
vantrel_test_headers(windows_engine_tests core_tests)
gtest_discover_tests(windows_engine_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 LABELS windows-live)

# The window, driven by its controls' messages on a virtual X server (the
# leg's DISPLAY; scripts/test.sh starts one).
add_executable(win32_window_tests win32/Win32WindowTest.cpp faces/SkinColoursTest.cpp ${PROJECT_SOURCE_DIR}/data/windows/vantrel.rc
  ${vantrel_stored_files})
target_link_libraries(win32_window_tests PRIVATE vantrel_win32 GTest::gtest_main)
target_compile_definitions(win32_window_tests PRIVATE VANTREL_WINDOW_EXE="$<TARGET_FILE:vantrel>")
add_dependencies(win32_window_tests vantrel)
vantrel_test_headers(win32_window_tests core_tests)
gtest_discover_tests(win32_window_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES TIMEOUT 120 LABELS windows-live)

# Pictures of the window's states: scripts/screenshots-windows.sh.
add_executable(win32_screenshot_tour win32/ScreenshotTour.cpp ${PROJECT_SOURCE_DIR}/data/windows/vantrel.rc)
target_link_libraries(win32_screenshot_tour PRIVATE vantrel_win32)

# The window under load, with a heartbeat on its thread: bench/win32_window.sh.
add_executable(win32_window_bench ${PROJECT_SOURCE_DIR}/bench/win32_window_bench.cpp)
target_link_libraries(win32_window_bench PRIVATE vantrel_win32 psapi)
set_target_properties(win32_window_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
