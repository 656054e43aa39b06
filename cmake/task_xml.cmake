cmake_minimum_required(VERSION 3.25)
# Writes the logon task definition as the Task Scheduler's own exports are:
# UTF-16 with a byte-order mark, CRLF line ends.
#   cmake -DIN=plenvor-logon-task.xml -DOUT=... -DICONV=... -DPUBLISHER=... -DDESCRIPTION=...
#         -DPROGRAM_FILES=ProgramFiles(x86) -P task_xml.cmake
# @PUBLISHER@, @DESCRIPTION@ and @PROGRAM_FILES@ in the definition become
# the build's; PROGRAM_FILES names the variable that holds the 32-bit Program
# Files folder on the Windows the definition is for.
file(READ "${IN}" text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}.utf8" "${text}")
execute_process(COMMAND "${ICONV}" -f UTF-8 -t UTF-16 "${OUT}.utf8"
                OUTPUT_FILE "${OUT}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${OUT}.utf8")
