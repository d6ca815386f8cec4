# Writes the module-definition files of the host's 17 functions from the
# ordinal table in host/host.h, so the import library, the test host's
# exports and the code cannot drift apart.
#   -DHEADER=host/host.h -DIMPORT_DEF=out.def -DHOST_MODULE=host.exe
#   -DDECORATE=ON|OFF [-DEXPORT_DEF=out.def] [-DEXPORT_PROBES=Name=Symbol;...]
# DECORATE: 32-bit stdcall symbols carry @argument-bytes; the ordinal, not the
# name, is what the import binds to (NONAME). EXPORT_PROBES: the test host
# exports Symbol at Name's ordinal instead (a probe that passes each call on).
cmake_minimum_required(VERSION 3.25)

file(READ "${HEADER}" text)
string(REGEX MATCH "HostFunctionOrdinals\\[\\] = {([^;]*)};" table "${text}")
if(NOT table)
  message(FATAL_ERROR "${HEADER}: the ordinal table HostFunctionOrdinals was not found")
endif()
string(REGEX MATCHALL "{\"(Host[A-Za-z]+)\", *([0-9]+), *([0-9]+)}" rows "${CMAKE_MATCH_1}")
list(LENGTH rows count)
if(NOT count EQUAL 17)
  message(FATAL_ERROR "${HEADER}: expected 17 host functions in the ordinal table, found ${count}")
endif()

set(imports "LIBRARY \"${HOST_MODULE}\"\nEXPORTS\n")
set(exports "EXPORTS\n")
set(seen "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "{\"(Host[A-Za-z]+)\", *([0-9]+), *([0-9]+)}" _ "${row}")
  set(name ${CMAKE_MATCH_1})
  set(ordinal ${CMAKE_MATCH_2})
  set(bytes ${CMAKE_MATCH_3})
  if(ordinal IN_LIST seen)
    message(FATAL_ERROR "${HEADER}: ordinal ${ordinal} appears twice")
  endif()
  list(APPEND seen ${ordinal})
  if(DECORATE)
    string(APPEND imports "  ${name}@${bytes} @${ordinal} NONAME\n")
  else()
    string(APPEND imports "  ${name} @${ordinal} NONAME\n")
  endif()
  set(exported ${name})
  foreach(probe IN LISTS EXPORT_PROBES)
    if(probe MATCHES "^${name}=([A-Za-z_]+)$")
      set(exported "${name}=${CMAKE_MATCH_1}")
    endif()
  endforeach()
  string(APPEND exports "  ${exported} @${ordinal} NONAME\n")
endforeach()

file(WRITE "${IMPORT_DEF}" "${imports}")
if(EXPORT_DEF)
  # No LIBRARY line: with one the linker would make a DLL of the executable.
  file(WRITE "${EXPORT_DEF}" "${exports}")
endif()
