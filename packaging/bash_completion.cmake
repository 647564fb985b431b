# Writes folivex-dl's bash completion from the options its --help lists, so
# the completion offers exactly what the program accepts.
#   cmake -DPROGRAM=path/to/folivex-dl -DOUTPUT=file -P bash_completion.cmake
# An option line of --help starts with spaces and names the option:
#   "  -o, --output DIR     ..." or "      --pdf            ...".
# A value named DIR completes folder names, FILE file names; other values
# (numbers, page lists, texts) offer nothing.

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${status}")
endif()
string(REPLACE ";" "," help "${help}")
string(REPLACE "\n" ";" lines "${help}")

set(words "")
set(dir_options "")
set(file_options "")
set(value_options "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^ +(-([A-Za-z0-9]), +)?--([a-z0-9][a-z0-9-]*)([ =]([A-Z][A-Z0-9_]*))?( |$)")
    continue()
  endif()
  set(short "${CMAKE_MATCH_2}")
  set(long "--${CMAKE_MATCH_3}")
  set(value "${CMAKE_MATCH_5}")
  set(names "${long}")
  list(APPEND words "${long}")
  # (Compared as strings: if() takes a bare "N" or "n" for false.)
  if(NOT short STREQUAL "")
    set(names "-${short}|${long}")
    list(APPEND words "-${short}")
  endif()
  if(value STREQUAL "DIR")
    list(APPEND dir_options "${names}")
  elseif(value STREQUAL "FILE")
    list(APPEND file_options "${names}")
  elseif(NOT value STREQUAL "")
    list(APPEND value_options "${names}")
  endif()
endforeach()
if(NOT words)
  message(FATAL_ERROR "no options found in the --help of ${PROGRAM}")
endif()

# One case branch per kind of value that some option takes.
set(action_dir "compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- \"\$cur\")
      ")
set(action_file "compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- \"\$cur\")
      ")
set(action_value "")
set(branches "")
foreach(kind dir file value)
  if(${kind}_options)
    list(JOIN ${kind}_options "|" pattern)
    string(APPEND branches "    ${pattern})
      ${action_${kind}}return 0 ;;
")
  endif()
endforeach()
list(JOIN words " " word_list)

file(WRITE "${OUTPUT}" "# bash completion for folivex-dl, made from its --help when it was built.

_folivex_dl() {
  local cur=\${COMP_WORDS[COMP_CWORD]} prev=
  (( COMP_CWORD > 0 )) && prev=\${COMP_WORDS[COMP_CWORD-1]}
  # \"--name=value\": bash splits at the \"=\", so the option sits before it.
  if [[ \$cur == = ]]; then
    cur=
  elif [[ \$prev == = ]] && (( COMP_CWORD > 1 )); then
    prev=\${COMP_WORDS[COMP_CWORD-2]}
  fi
  COMPREPLY=()
  # After an option that takes a value: the value.
  case \$prev in
${branches}  esac
  if [[ \$cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '${word_list}' -- \"\$cur\")
  fi
  return 0
}
complete -F _folivex_dl folivex-dl
")
