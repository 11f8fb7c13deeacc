# The options xagterm --help names are the ones README.md (its synopsis and
# its options table) and the manual page (its SYNOPSIS and its OPTIONS) name:
# each list compared whole with --help's, so an option added to one and
# forgotten in another fails.
#   cmake -DXAGTERM=... -DREADME=... -DMANUAL=... -P confere_opcoes.cmake

# The --options in `texto`, sorted, each once.
function(opcoes_em texto saida)
  string(REPLACE "\\-" "-" texto "${texto}")  # the manual page's escaped hyphens
  string(REGEX MATCHALL "--[a-z][-a-z]*" lista "${texto}")
  list(REMOVE_DUPLICATES lista)
  list(SORT lista)
  set(${saida} "${lista}" PARENT_SCOPE)
endfunction()

# The lines of `arquivo` from the one matching `de` up to the next one
# matching `ate`.
function(trecho arquivo de ate saida)
  file(STRINGS ${arquivo} linhas)
  set(dentro FALSE)
  set(r "")
  foreach(l IN LISTS linhas)
    if(dentro AND l MATCHES "${ate}")
      break()
    endif()
    if(l MATCHES "${de}")
      set(dentro TRUE)
    elseif(dentro)
      string(APPEND r "${l}\n")
    endif()
  endforeach()
  set(${saida} "${r}" PARENT_SCOPE)
endfunction()

set(falhas "")
function(compara nome texto)
  opcoes_em("${texto}" lista)
  if(NOT lista STREQUAL ajuda)
    set(falhas "${falhas}\n  ${nome}: ${lista}" PARENT_SCOPE)
  endif()
endfunction()

execute_process(COMMAND ${XAGTERM} --help OUTPUT_VARIABLE texto_ajuda RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "xagterm --help ended with ${r}")
endif()
opcoes_em("${texto_ajuda}" ajuda)
if(ajuda STREQUAL "")
  message(FATAL_ERROR "xagterm --help names no option")
endif()

# README: the synopsis (indented lines right under "## Usage"), and the first
# cell of each row of the options table.
trecho(${README} "^## Usage" "^Arguments " sinopse)
compara("README.md synopsis" "${sinopse}")
trecho(${README} "^Options:" "^Examples:" tabela)
string(REGEX MATCHALL "\n\\| [^|]*" celulas "\n${tabela}")
compara("README.md options table" "${celulas}")

# The manual page: SYNOPSIS, and the tag of each entry (the line after .TP)
# under OPTIONS.
trecho(${MANUAL} "^\\.SH SYNOPSIS" "^\\.SH " sinopse)
compara("man page SYNOPSIS" "${sinopse}")
trecho(${MANUAL} "^\\.SH OPTIONS" "^\\.SH " opcoes)
string(REGEX MATCHALL "\\.TP\n[^\n]*" etiquetas "${opcoes}")
compara("man page OPTIONS" "${etiquetas}")

if(NOT falhas STREQUAL "")
  message(FATAL_ERROR "xagterm --help names ${ajuda}; differing:${falhas}")
endif()
