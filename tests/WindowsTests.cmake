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
  platform/StoredFileTest.cpp
  platform/WindowsFileTest.cpp
  platform/WindowsGuardTest.cpp
  engine/StoredFilesTest.cpp
  engine/ProgramDirTest.cpp
  ${vantrel_stored_files}
)
target_link_libraries(core_tests PRIVATE vantrel_core GTest::gtest_main)
gtest_discover_tests(core_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)

# Proves which ANSI code page a run had: test.sh runs the suite once per
# code page and says which one it expects.
add_executable(code_page_probe platform/CodePageProbe.cpp)
add_test(NAME windows_code_page COMMAND code_page_probe)

# The program without a window under Wine, on real folders, with tools of
# its own: data.jl written by the Windows build of the rule-file writer, and
# a program that records how its command line was split.
if(TARGET vantrel-headless)
  add_executable(write_rule_file app/WriteRuleFile.cpp)
  target_link_libraries(write_rule_file PRIVATE vantrel_core)
  add_executable(args_to_file windows/ArgsToFile.cpp)
  add_test(NAME windows_headless
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/headless/windows_headless_test.sh ${VANTREL_WINEPREFIX}
            $<TARGET_FILE:vantrel-headless> $<TARGET_FILE:write_rule_file> $<TARGET_FILE:args_to_file>)
  set_tests_properties(windows_headless PROPERTIES TIMEOUT 600)
endif()
