# Run by `cmake --install`: writes the desktop file with the full path of the
# player as installed. The program folder is the prefix itself, which is not
# on PATH. Expects TAMSEL_APP_ID, TAMSEL_DESKTOP_TEMPLATE, TAMSEL_AUDIO_TYPES
# and TAMSEL_STAGING.
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

# MimeType: every type of the player's table of audio and playlist types, each
# once. The table's own separator is ";", CMake's list separator, so it is
# read with "|" in its place.
file(READ "${TAMSEL_AUDIO_TYPES}" table)
string(REPLACE ";" "|" table "${table}")
string(REGEX MATCHALL "\n[A-Z]+_TYPE\\(\"[^\"]+\", \"[^\"]+\"\\)" rows "${table}")
set(types "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE ".*\", \"([^\"]+)\"\\)$" "\\1" row_types "${row}")
  string(REPLACE "|" ";" row_types "${row_types}")
  list(APPEND types ${row_types})
endforeach()
list(REMOVE_DUPLICATES types)
if(NOT types)
  message(FATAL_ERROR "no types in ${TAMSEL_AUDIO_TYPES}")
endif()
string(JOIN ";" TAMSEL_MIME_TYPES ${types})
string(APPEND TAMSEL_MIME_TYPES ";")

file(READ "${TAMSEL_DESKTOP_TEMPLATE}" entry)
string(CONFIGURE "${entry}" entry @ONLY)
file(WRITE "${TAMSEL_STAGING}/${TAMSEL_APP_ID}.desktop" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${TAMSEL_STAGING}/${TAMSEL_APP_ID}.desktop")
