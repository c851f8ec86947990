# quorvane_add_test(<name> SOURCES <files...> LIBS <targets...> [GUI] [XVFB] [SESSION_BUS]
#                   [ENV <k=v>...])
#
# Every test of the project is registered through here, so all of them run with the same
# environment: Qt's offscreen platform, a plain UTF-8 locale, a store folder of their own under
# the build tree (never the user's), sound sent nowhere, no session bus (so no notification
# reaches the developer's desktop), and sanitizers that stop at the first fault. GUI tests get a
# main() that creates the QApplication; XVFB tests need the X server that the xvfb fixture
# starts and stops around them, SESSION_BUS tests the private session bus of the session_bus
# fixture.
# Locales that the regional-format tests need, compiled by scripts/deps without touching the system.
set(QUORVANE_LOCALE_DIR "${PROJECT_SOURCE_DIR}/build-locale" CACHE INTERNAL "")
# Where the session_bus fixture's daemon listens.
set(QUORVANE_SESSION_BUS_SOCKET "${PROJECT_BINARY_DIR}/tests/session-bus" CACHE INTERNAL "")

function(quorvane_add_test name)
    cmake_parse_arguments(T "GUI;XVFB;SESSION_BUS" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_GUI)
        target_link_libraries(${name} PRIVATE quorvane_test_gui_main Qt6::Test)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set(env
        "QT_QPA_PLATFORM=offscreen"
        "LC_ALL=C.UTF-8"
        "LANG=C.UTF-8"
        "LOCPATH=${QUORVANE_LOCALE_DIR}:/usr/lib/locale"
        "QUORVANE_HOME=${CMAKE_CURRENT_BINARY_DIR}/home-${name}"
        "QUORVANE_ALSA_PCM=null"
        "QUORVANE_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data"
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1"
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1")
    if(T_SESSION_BUS)
        list(APPEND env "DBUS_SESSION_BUS_ADDRESS=unix:path=${QUORVANE_SESSION_BUS_SOCKET}")
        set_tests_properties(${name} PROPERTIES
            FIXTURES_REQUIRED session_bus RESOURCE_LOCK session_bus)
    else()
        list(APPEND env "DBUS_SESSION_BUS_ADDRESS=unix:path=${PROJECT_BINARY_DIR}/no-session-bus")
    endif()
    list(APPEND env ${T_ENV})
    if(T_XVFB)
        list(APPEND env "DISPLAY=:${QUORVANE_XVFB_DISPLAY}")
        set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED xvfb)
        set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK xvfb)
    else()
        list(APPEND env "DISPLAY=")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
