# Run by `cmake --install`: writes the desktop file with the full path of the
# player as installed. The program folder is the prefix itself, which is not
# on PATH. Expects TAMSEL_APP_ID, TAMSEL_DESKTOP_TEMPLATE and TAMSEL_STAGING.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
set(exec "${prefix}/TamselMP3Player")

# Quoted as desktop entries want it when the path holds anything but plain
# characters; "%" is doubled, since it starts a field code.
string(REPLACE "%" "%%" exec "${exec}")
if(NOT exec MATCHES "^[A-Za-z0-9_./+,:@=-]+$")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\"" "\\\"" exec "${exec}")
  string(REPLACE "`" "\\`" exec "${exec}")
  string(REPLACE "$" "\\$" exec "${exec}")
  # The value as a whole is a string, in which a backslash is written twice.
  string(REPLACE "\\" "\\\\" exec "\"${exec}\"")
endif()

set(TAMSEL_EXEC "${exec}")
file(READ "${TAMSEL_DESKTOP_TEMPLATE}" entry)
string(CONFIGURE "${entry}" entry @ONLY)
file(WRITE "${TAMSEL_STAGING}/${TAMSEL_APP_ID}.desktop" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${TAMSEL_STAGING}/${TAMSEL_APP_ID}.desktop")
