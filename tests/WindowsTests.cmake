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
  rules/RuleFileTest.cpp
  platform/StoredFileTest.cpp
  platform/WindowsFileTest.cpp
)
target_link_libraries(core_tests PRIVATE vantrel_core GTest::gtest_main)
gtest_discover_tests(core_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)

# Proves which ANSI code page a run had: test.sh runs the suite once per
# code page and says which one it expects.
add_executable(code_page_probe platform/CodePageProbe.cpp)
add_test(NAME windows_code_page COMMAND code_page_probe)

# The change source on real folders. New files are told after a second of
# quiet, and one test makes 20,000 of them: minutes, not seconds.
add_executable(windows_source_tests monitor/WindowsSourceTest.cpp)
target_link_libraries(windows_source_tests PRIVATE vantrel_core GTest::gtest_main)
gtest_discover_tests(windows_source_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
