# Turns data/cie1931_2deg_5nm.csv into the rows of the built-in
# colour-matching table: one "{wavelength, xbar, ybar, zbar}," initialiser per
# data line. Lines starting with "#" and empty lines are skipped.
#
#   cmake -DINPUT=<csv> -DOUTPUT=<inc> -P cie1931_table.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "cie1931_table.cmake needs -DINPUT=<csv> and -DOUTPUT=<inc>")
endif()

file(STRINGS "${INPUT}" lines)
set(number "-?[0-9]+(\\.[0-9]+)?")
set(body "")
set(count 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(NOT line MATCHES "^(${number}),(${number}),(${number}),(${number})$")
    message(FATAL_ERROR "${INPUT}: not a row of four numbers: \"${line}\"")
  endif()
  string(REPLACE "," ";" fields "${line}")
  set(row "")
  foreach(field IN LISTS fields)
    if(NOT field MATCHES "\\.")
      string(APPEND field ".0")
    endif()
    list(APPEND row "${field}f")
  endforeach()
  list(JOIN row ", " row)
  string(APPEND body "    {${row}},\n")
  math(EXPR count "${count} + 1")
endforeach()

set(text "/* Generated from cie1931_2deg_5nm.csv; do not edit. ${count} rows. */\n${body}")
file(WRITE "${OUTPUT}" "${text}")
