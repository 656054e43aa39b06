cmake_minimum_required(VERSION 3.25)
# Writes the logon task definition as the Task Scheduler's own exports are:
# UTF-16 with a byte-order mark, CRLF line ends.
#   cmake -DIN=plenvor-logon-task.xml -DOUT=... -DICONV=... -DPUBLISHER=... -DDESCRIPTION=...
#         -P task_xml.cmake
# @PUBLISHER@ and @DESCRIPTION@ in the definition become the build's.
file(READ "${IN}" text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}.utf8" "${text}")
execute_process(COMMAND "${ICONV}" -f UTF-8 -t UTF-16 "${OUT}.utf8"
                OUTPUT_FILE "${OUT}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${OUT}.utf8")
