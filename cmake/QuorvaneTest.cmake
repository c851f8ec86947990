# quorvane_add_test(<name> SOURCES <files...> LIBS <targets...> [GUI] [XVFB] [SESSION_BUS]
#                   [SYSTEM_BUS] [ENV <k=v>...])
#
# Every test of the project is registered through here, so all of them run with the same
# environment: Qt's offscreen platform, a plain UTF-8 locale, UTC as the time zone (given by its
# rule, so no zone file of the machine is read), a store folder of their own under
# the build tree (never the user's), sound sent nowhere, no session or system bus (so no
# notification reaches the developer's desktop), and sanitizers that stop at the first fault.
# The store folders are emptied before each run (the fresh_stores fixture).
# Nothing of the machine's own set-up reaches a test either: each has a home, runtime folder,
# serial lock folder, device folder and pppd peers folder of its own, all empty to begin with,
# so a desktop with pppd, NetworkManager or a busy /var/lock runs the tests as a bare machine
# does. GUI tests get a
# main() that creates the QApplication; XVFB tests run on the X server that the xvfb fixture
# starts and stops around them (on a display number no other X server uses), SESSION_BUS tests
# the private session bus of the session_bus fixture, SYSTEM_BUS tests a private bus of their
# own as the system bus (the system_bus fixture), where they put a stand-in NetworkManager.
# Locales that the regional-format tests need, compiled by scripts/deps without touching the system.
set(QUORVANE_LOCALE_DIR "${PROJECT_SOURCE_DIR}/build-locale" CACHE INTERNAL "")
# Where the xvfb fixture says which display its server took.
set(QUORVANE_XVFB_DISPLAY_FILE "${PROJECT_BINARY_DIR}/tests/xvfb.display" CACHE INTERNAL "")
# Where the session_bus fixture's daemon listens, and the system_bus fixture's.
set(QUORVANE_SESSION_BUS_SOCKET "${PROJECT_BINARY_DIR}/tests/session-bus" CACHE INTERNAL "")
set(QUORVANE_SYSTEM_BUS_SOCKET "${PROJECT_BINARY_DIR}/tests/system-bus" CACHE INTERNAL "")

function(quorvane_add_test name)
    cmake_parse_arguments(T "GUI;XVFB;SESSION_BUS;SYSTEM_BUS" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_GUI)
        target_link_libraries(${name} PRIVATE quorvane_test_gui_main Qt6::Test)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    if(T_XVFB)
        add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/support/with_display.sh
            ${QUORVANE_XVFB_DISPLAY_FILE} $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set(machine "${CMAKE_CURRENT_BINARY_DIR}/machine-${name}")
    foreach(dir home config data cache state runtime lock dev peers)
        file(MAKE_DIRECTORY "${machine}/${dir}")
    endforeach()
    # Qt refuses a runtime folder that others may enter.
    file(CHMOD "${machine}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set_property(GLOBAL APPEND PROPERTY QUORVANE_TEST_HOMES "${CMAKE_CURRENT_BINARY_DIR}/home-${name}")
    set(env
        "QT_QPA_PLATFORM=offscreen"
        "LC_ALL=C.UTF-8"
        "LANG=C.UTF-8"
        "TZ=UTC0"
        "LOCPATH=${QUORVANE_LOCALE_DIR}:/usr/lib/locale"
        "QUORVANE_HOME=${CMAKE_CURRENT_BINARY_DIR}/home-${name}"
        "QUORVANE_ALSA_PCM=null"
        "QUORVANE_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data"
        "HOME=${machine}/home"
        "XDG_CONFIG_HOME=${machine}/config"
        "XDG_DATA_HOME=${machine}/data"
        "XDG_CACHE_HOME=${machine}/cache"
        "XDG_STATE_HOME=${machine}/state"
        "XDG_RUNTIME_DIR=${machine}/runtime"
        "QUORVANE_LOCK_DIR=${machine}/lock"
        "QUORVANE_DEV_DIR=${machine}/dev"
        "QUORVANE_PPP_PEERS=${machine}/peers"
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
    if(T_SYSTEM_BUS)
        list(APPEND env "DBUS_SYSTEM_BUS_ADDRESS=unix:path=${QUORVANE_SYSTEM_BUS_SOCKET}")
        set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED system_bus)
        set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK system_bus)
    else()
        list(APPEND env "DBUS_SYSTEM_BUS_ADDRESS=unix:path=${PROJECT_BINARY_DIR}/no-system-bus")
    endif()
    list(APPEND env ${T_ENV})
    if(T_XVFB)
        set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED xvfb)
        set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK xvfb)
    else()
        list(APPEND env "DISPLAY=")
    endif()
    list(APPEND env "WAYLAND_DISPLAY=")
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
    set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED fresh_stores)
endfunction()
