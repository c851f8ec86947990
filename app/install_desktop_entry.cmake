# Run by `cmake --install`: writes the desktop entry with the command's full path under the
# prefix of this installation and installs it. Set by the caller: QUORVANE_DESKTOP_IN,
# QUORVANE_DESKTOP_OUT, QUORVANE_BINDIR, QUORVANE_APPLICATIONS_DIR.

if(IS_ABSOLUTE "${QUORVANE_BINDIR}")
    set(exec "${QUORVANE_BINDIR}/quorvane")
else()
    set(exec "${CMAKE_INSTALL_PREFIX}/${QUORVANE_BINDIR}/quorvane")
endif()

# The Exec key's rules: "%" starts a field code, so it is doubled; a path with a reserved
# character is quoted, with ", `, $ and \ escaped inside the quotes; and the value as a whole is
# a string, in which every backslash is doubled once more.
string(REPLACE "%" "%%" exec "${exec}")
string(REGEX MATCH "[] \t\n\"'\\\\><~|&;$*?#()`[]" reserved "${exec}")
if(NOT reserved STREQUAL "")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    set(exec "\"${exec}\"")
endif()
string(REPLACE "\\" "\\\\" QUORVANE_EXEC "${exec}")

configure_file("${QUORVANE_DESKTOP_IN}" "${QUORVANE_DESKTOP_OUT}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUORVANE_APPLICATIONS_DIR}" TYPE FILE
     FILES "${QUORVANE_DESKTOP_OUT}")
