# Inspects the built shared library (cmake -DLIBRARY=... -DNM=... -DOBJDUMP=... -P this file):
#  - load time: the one dynamic initialiser is that of the clay_background table; the registry,
#    its name index and keys and the procedural records are constant data in read-only sections
#    (.rodata, or .data.rel.ro where they hold pointers);
#  - exports: every exported symbol is in namespace kinetra or a pack namespace kinetra_<pack>,
#    and every pack pattern exports both its table and its sampler.

function(run_tool out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE result ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${result}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(failures "")

# --- dynamic initialisers -------------------------------------------------------------------
run_tool(symbols "${NM}" "${LIBRARY}")
string(REGEX MATCHALL "_GLOBAL__sub_I_[A-Za-z0-9_.]+" initialisers "${symbols}")
list(REMOVE_DUPLICATES initialisers)
if(NOT initialisers STREQUAL "_GLOBAL__sub_I_clay_background.cpp")
  string(APPEND failures "load-time initialisers are [${initialisers}], expected only the clay_background table's\n")
endif()

# --- sections of the constant catalogue data ------------------------------------------------
run_tool(table "${OBJDUMP}" -t "${LIBRARY}")
foreach(symbol IN ITEMS
    _ZN7kinetra6detail8registryE
    _ZN7kinetra6detail19registry_name_indexE
    _ZN7kinetra6detail18registry_name_keysE
    _ZN7kinetra6detail22registry_name_samplersE
    _ZN7kinetra6detail19procedural_patternsE)
  set(section "")
  if(table MATCHES "[ \t](\\.[a-z.]+)[ \t]+[0-9a-f]+[ \t]+(\\.hidden[ \t]+)?${symbol}\n")
    set(section "${CMAKE_MATCH_1}")
  endif()
  if(section STREQUAL "")
    string(APPEND failures "${symbol}: not found in the symbol table\n")
  elseif(NOT section MATCHES "^\\.(rodata|data\\.rel\\.ro)")
    string(APPEND failures "${symbol}: in ${section}, not in read-only data\n")
  endif()
endforeach()

# --- exported symbols -----------------------------------------------------------------------
run_tool(exported "${NM}" -D --defined-only -C "${LIBRARY}")
string(REPLACE "\n" ";" exported "${exported}")
set(tables 0)
set(samplers 0)
foreach(line IN LISTS exported)
  if(line STREQUAL "")
    continue()
  endif()
  # "<address> <type> <name>"
  if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.*)$")
    string(APPEND failures "unreadable nm line: ${line}\n")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  if(name MATCHES "^kinetra_[a-z]+::table_[a-z0-9_]+$")
    math(EXPR tables "${tables} + 1")
  elseif(name MATCHES "^kinetra_[a-z]+::sample_[a-z0-9_]+\\(int\\)$")
    math(EXPR samplers "${samplers} + 1")
  elseif(NOT name MATCHES "^kinetra::")
    string(APPEND failures "exported symbol outside the kinetra namespaces: ${name}\n")
  endif()
endforeach()
if(tables EQUAL 0 OR NOT tables EQUAL samplers)
  string(APPEND failures "exported ${tables} pack tables and ${samplers} pack samplers\n")
endif()

if(failures)
  message(FATAL_ERROR "${LIBRARY}:\n${failures}")
endif()
message(STATUS "${LIBRARY}: only the clay_background initialiser runs at load time; "
               "${tables} tables and ${samplers} samplers exported")
