cmake_minimum_required(VERSION 3.25)
# Writes the sections for users of each document IN names (each section
# between "<!-- users -->" and "<!-- /users -->"), in that order, as plain
# text with CRLF line ends:
#   cmake "-DIN=README.md|docs/deploying.md" -DOUT=README.txt -DVERSION=1.0 -DPRODUCT_CODE=...
#         -P readme_txt.cmake
# headed by the release's ProductCode, by which administrators remove it.
# Plain string operations only: the text holds ';' and '[', which CMake
# lists would take apart.
set(title "Plenvor ${VERSION}")
string(LENGTH "${title}" width)
string(REPEAT "=" ${width} rule)
set(text "${title}\n${rule}\n\nProductCode: {${PRODUCT_CODE}}\nTo remove this release: msiexec /x {${PRODUCT_CODE}} /qn\n")
string(REPLACE "|" ";" documents "${IN}")
foreach(document IN LISTS documents)
  file(READ "${document}" rest)
  set(found FALSE)
  while(TRUE)
    string(FIND "${rest}" "<!-- users -->" start)
    if(start EQUAL -1)
      break()
    endif()
    string(LENGTH "<!-- users -->" marker)
    math(EXPR start "${start} + ${marker}")
    string(SUBSTRING "${rest}" ${start} -1 rest)
    string(FIND "${rest}" "<!-- /users -->" end)
    if(end EQUAL -1)
      message(FATAL_ERROR "${document}: a section for users is not closed")
    endif()
    string(SUBSTRING "${rest}" 0 ${end} section)
    string(APPEND text "${section}")
    string(SUBSTRING "${rest}" ${end} -1 rest)
    set(found TRUE)
  endwhile()
  if(NOT found)
    message(FATAL_ERROR "${document} has no sections for users")
  endif()
endforeach()

# What plain text does without: emphasis, code marks and link targets
# (the documents they name are not on the machine); headings become
# underlined titles.
string(REPLACE "**" "" text "${text}")
string(REPLACE "`" "" text "${text}")
string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\)" "\\1" text "${text}")
foreach(level "##|-" "###|~")
  string(REPLACE "|" ";" level "${level}")
  list(GET level 0 marks)
  list(GET level 1 underline)
  while(TRUE)
    string(REGEX MATCH "\n${marks} [^\n]*\n" heading "${text}")
    if(heading STREQUAL "")
      break()
    endif()
    string(REGEX REPLACE "^\n${marks} ([^\n]*)\n$" "\\1" title "${heading}")
    string(LENGTH "${title}" width)
    string(REPEAT "${underline}" ${width} rule)
    string(REPLACE "${heading}" "\n${title}\n${rule}\n" text "${text}")
  endwhile()
endforeach()
string(REGEX REPLACE "\n\n\n+" "\n\n" text "${text}")
string(STRIP "${text}" text)
string(REPLACE "\n" "\r\n" text "${text}\n")
file(WRITE "${OUT}" "${text}")
