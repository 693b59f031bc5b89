# Every name libqel2.so exports is a Java native method or is declared in a
# public header: no internal function, C++ symbol or static-library leftover
# leaks into the interface applications link against. And the reverse: every
# function a public header declares for export is defined in the library, so
# a declared call never fails at an application's link or load time, and so
# is every object it declares for export.
#   cmake -DNM=nm -DCC=cc -DBRIDGE=ON -DLIB=libqel2.so -DINCLUDE_DIR=include -P exports.cmake

# Stops with `what` and the names, one a line, when there are any.
function(fail_listing names what)
  if(names)
    list(JOIN names "\n  " text)
    message(FATAL_ERROR "${what}:\n  ${text}")
  endif()
endfunction()

execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE table
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
file(GLOB headers ${INCLUDE_DIR}/*.h)
set(declared "")
foreach(h ${headers})
  file(READ ${h} text)
  string(APPEND declared " ${text} ")
endforeach()

string(REPLACE "\n" ";" lines "${table}")
set(count 0)
set(stray "")
set(exported "")
foreach(line ${lines})
  if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] ([A-Za-z0-9_@.]+)$")
    continue()
  endif()
  set(sym ${CMAKE_MATCH_1})
  math(EXPR count "${count} + 1")
  list(APPEND exported ${sym})
  # Names the toolchain reserves (__bss_start, sanitizer markers, ...).
  if(sym MATCHES "^_[_A-Z]" OR sym MATCHES "^(_edata|_end|_init|_fini)$")
    if(NOT sym MATCHES "^_Z")
      continue()
    endif()
  endif()
  if(sym MATCHES "^Java_com_ostrel_qel2_[A-Za-z0-9_]+$")
    continue()
  endif()
  if(NOT declared MATCHES "[^A-Za-z0-9_]${sym}[^A-Za-z0-9_]")
    list(APPEND stray ${sym})
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no exported symbols read from ${LIB}")
endif()
fail_listing("${stray}" "exported but not in a public header")

# The reverse, on the preprocessed headers so that declarations written by
# macros count too. The host-side helpers of qel2_openssl_util.h come with the
# bridge (BRIDGE=OFF: a library built without it); qel2.h only gathers the
# others.
set(expanded "")
foreach(h ${headers})
  if(h MATCHES "/qel2\\.h$" OR (NOT BRIDGE AND h MATCHES "/qel2_openssl_util\\.h$"))
    continue()
  endif()
  execute_process(COMMAND ${CC} -E -P -I${INCLUDE_DIR} ${h} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CC} could not preprocess ${h}")
  endif()
  string(APPEND expanded "${text}")
endforeach()
string(REGEX MATCHALL "visibility\\(\"default\"\\)\\)\\)[^(;{}]*[ *][A-Za-z_][A-Za-z0-9_]*[ \t\n]*\\("
       decls "${expanded}")
set(names "")
foreach(d ${decls})
  string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)[ \t\n]*\\($" "\\1" name "${d}")
  list(APPEND names ${name})
endforeach()
# Exported data (the thread table's lock, the wrap IV): `extern` objects,
# arrays included. The matches lose their ';' as list items.
string(REGEX MATCHALL "visibility\\(\"default\"\\)\\)\\)[ \t\n]*extern[^(;{}]*[ *][A-Za-z_][A-Za-z0-9_]*[ \t\n]*(\\[[A-Za-z0-9_ ]*\\])?[ \t\n]*;"
       data "${expanded}")
foreach(d ${data})
  string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)[ \t\n]*(\\[[A-Za-z0-9_ ]*\\])?[ \t\n]*$" "\\1" name "${d}")
  list(APPEND names ${name})
endforeach()
list(REMOVE_DUPLICATES names)
list(LENGTH names ndecl)
set(missing "")
foreach(name ${names})
  list(FIND exported ${name} at)
  if(at EQUAL -1)
    list(APPEND missing ${name})
  endif()
endforeach()
if(ndecl EQUAL 0)
  message(FATAL_ERROR "no exported declarations read from ${INCLUDE_DIR}")
endif()
fail_listing("${missing}" "declared for export but not exported by ${LIB} (not defined, or not named in cmake/qel2.map)")
message(STATUS "${count} exported symbols, all public; ${ndecl} declared exports, all defined")
