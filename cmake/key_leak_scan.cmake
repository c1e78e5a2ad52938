# The key-leak scan: after every other test of a ctest session it searches the session's logs
# for the secrets the tests use (tests/key_leak/key_leak_scan.cpp). Every test requires a
# fixture whose set-up empties the folder where tests keep extra logs and whose clean-up is the
# scan, so ctest runs the scan last, also when only some tests are selected. Included at the
# end of tests/CMakeLists.txt, once every test exists.

add_executable(key_leak_scan ${CMAKE_SOURCE_DIR}/tests/key_leak/key_leak_scan.cpp)
target_compile_options(key_leak_scan PRIVATE ${RELAYCAST_WARNINGS})
target_link_libraries(key_leak_scan PRIVATE Qt${RELAYCAST_QT_MAJOR}::Core)

set(RELAYCAST_TEST_LOG_DIR ${CMAKE_BINARY_DIR}/Testing/test-logs)
get_property(_relaycast_all_tests DIRECTORY PROPERTY TESTS)
set_property(TEST ${_relaycast_all_tests} APPEND PROPERTY FIXTURES_REQUIRED key_leak_scan)
set_property(TEST ${_relaycast_all_tests} APPEND PROPERTY ENVIRONMENT
    RELAYCAST_TEST_LOG_DIR=${RELAYCAST_TEST_LOG_DIR})

# Tests that keep logs create the folder themselves.
add_test(NAME key_leak/clear_logs COMMAND ${CMAKE_COMMAND} -E rm -rf ${RELAYCAST_TEST_LOG_DIR})
set_tests_properties(key_leak/clear_logs PROPERTIES FIXTURES_SETUP key_leak_scan LABELS key_leak)
add_test(NAME key_leak/scan COMMAND key_leak_scan ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src
    ${CMAKE_BINARY_DIR}/Testing/Temporary ${RELAYCAST_TEST_LOG_DIR})
set_tests_properties(key_leak/scan PROPERTIES FIXTURES_CLEANUP key_leak_scan LABELS key_leak)
