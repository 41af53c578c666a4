# Joins script files, in the order given, into one script whose code runs inside one
# function, so that the names the files share stay private to that script.
#   cmake -DOUTPUT=joined.js "-DPARTS=a.js;b.js" -P JoinScripts.cmake
if(NOT OUTPUT OR NOT PARTS)
  message(FATAL_ERROR "JoinScripts.cmake needs OUTPUT and PARTS")
endif()
set(joined "(function () {\n'use strict';\n")
foreach(part IN LISTS PARTS)
  file(READ ${part} text)
  string(APPEND joined "${text}\n")
endforeach()
string(APPEND joined "})();\n")
file(WRITE ${OUTPUT}.tmp "${joined}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
