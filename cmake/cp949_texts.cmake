# Makes a header of CP949 texts from one written in UTF-8:
#
#   cmake -DSOURCE=in.h.in -DOUTPUT=out.h -DICONV=/usr/bin/iconv -P cp949_texts.cmake
#
# Each string literal of SOURCE is converted by iconv, and its bytes past
# ASCII are written as \x escapes: a literal that held them raw would not
# be UTF-8, which clang warns of (and -Werror stops). The rest of each
# line, and every line that begins with //, is kept as it is; lines keep
# their numbers, and a #line names SOURCE, so that the compiler's messages
# point into it. A text with a character that CP949 lacks, or with bytes
# that are not UTF-8, stops the build with its line.
#
# Runs at build time on the machine that builds, so a cross build for
# Windows uses the build machine's iconv. Nothing here uses CMake lists: a
# text may hold ";" or "[".

cmake_minimum_required(VERSION 3.25)

foreach(variable SOURCE OUTPUT ICONV)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "cp949_texts.cmake needs -D${variable}=...")
  endif()
endforeach()

# The literal's UTF-8 as CP949 in C++ escapes, in `result`.
function(cp949_literal body line_number result)
  if(body MATCHES "^[ -~]*$")
    set(${result} "${body}" PARENT_SCOPE)
    return()
  endif()
  set(scratch "${OUTPUT}.text")
  file(WRITE "${scratch}" "${body}")
  execute_process(
    COMMAND "${ICONV}" -f UTF-8 -t CP949 "${scratch}"
    OUTPUT_FILE "${scratch}.cp949"
    RESULT_VARIABLE status
    ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    file(REMOVE "${scratch}" "${scratch}.cp949")
    string(STRIP "${error}" error)
    message(FATAL_ERROR
      "${SOURCE}:${line_number}: this text holds a character that CP949 lacks, or bytes "
      "that are not UTF-8 (iconv: ${error}):\n  \"${body}\"")
  endif()
  file(READ "${scratch}.cp949" hex HEX)
  file(REMOVE "${scratch}" "${scratch}.cp949")
  string(LENGTH "${hex}" hex_length)
  set(escaped "")
  set(after_escape FALSE)
  set(at 0)
  while(at LESS hex_length)
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR at "${at} + 2")
    math(EXPR code "0x${byte}")
    if(code GREATER_EQUAL 128)
      string(TOUPPER "${byte}" byte)
      string(APPEND escaped "\\x${byte}")
      set(after_escape TRUE)
    else()
      string(ASCII ${code} character)
      # A hex digit right after an escape would be read as part of it: the
      # literal is closed and a new one begun.
      if(after_escape AND character MATCHES "^[0-9A-Fa-f]$")
        string(APPEND escaped "\" \"")
      endif()
      string(APPEND escaped "${character}")
      set(after_escape FALSE)
    endif()
  endwhile()
  set(${result} "${escaped}" PARENT_SCOPE)
endfunction()

file(READ "${SOURCE}" rest)
get_filename_component(source_name "${SOURCE}" NAME)
string(CONCAT header
  "// Made by the build from ${source_name}, whose texts are in UTF-8: change them there.\n"
  "#line 1 \"${SOURCE}\"\n")
set(line_number 0)
while(NOT rest STREQUAL "")
  math(EXPR line_number "${line_number} + 1")
  string(FIND "${rest}" "\n" end)
  if(end EQUAL -1)
    set(line "${rest}")
    set(rest "")
  else()
    string(SUBSTRING "${rest}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${rest}" ${end} -1 rest)
  endif()
  if(line MATCHES "^[ \t]*//")
    string(APPEND header "${line}\n")
    continue()
  endif()
  while(TRUE)
    string(FIND "${line}" "\"" quote)
    if(quote EQUAL -1)
      string(APPEND header "${line}\n")
      break()
    endif()
    string(SUBSTRING "${line}" 0 ${quote} before)
    string(SUBSTRING "${line}" ${quote} -1 line)
    string(REGEX MATCH "^\"([^\"\\\\]|\\\\.)*\"" literal "${line}")
    if(literal STREQUAL "")
      message(FATAL_ERROR "${SOURCE}:${line_number}: a string literal does not end on its line")
    endif()
    string(LENGTH "${literal}" literal_length)
    math(EXPR body_length "${literal_length} - 2")
    string(SUBSTRING "${literal}" 1 ${body_length} body)
    cp949_literal("${body}" ${line_number} escaped)
    string(APPEND header "${before}\"${escaped}\"")
    string(SUBSTRING "${line}" ${literal_length} -1 line)
  endwhile()
endwhile()

file(WRITE "${OUTPUT}" "${header}")
