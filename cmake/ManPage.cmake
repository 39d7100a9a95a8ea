# cmake -P script: writes the manual page asehost(1) from the built asehost's
# own help, so that the page says what the program says.
#   cmake -DASEHOST=<asehost> -DOUTPUT=<asehost.1> -DVERSION=<x.y.z> -P ManPage.cmake
# The commands are those `asehost help` lists under "Subcommands:"; each gets
# a subsection made of `asehost help COMMAND`. CLI11's help has this shape:
#   a description line, "Usage: ...", headed lists ("Options:") whose entries
#   start with two spaces (name, two or more spaces, description; a long name
#   puts its description on the next, further indented line), and free text.
# Fails, writing nothing, when asehost fails or its help lacks that shape.

foreach(var ASEHOST OUTPUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ManPage.cmake: ${var} not given")
  endif()
endforeach()

# Text is handled as a CMake list of lines: ';' and the brackets (which would
# split or join list items) are swapped for markers and restored on output.
# Each as its character code (a ';' could not stand in a list) and marker.
set(ase_markers "59=@ASE_SEMI@" "91=@ASE_OPEN@" "93=@ASE_CLOSE@")

# Swaps those characters for their markers (TO) or back (FROM) in `var`.
function(ase_swap_markers var direction)
  set(text "${${var}}")
  foreach(pair IN LISTS ase_markers)
    string(SUBSTRING "${pair}" 0 2 code)
    string(ASCII ${code} plain)
    string(SUBSTRING "${pair}" 3 -1 marker)
    if(direction STREQUAL "TO")
      string(REPLACE "${plain}" "${marker}" text "${text}")
    else()
      string(REPLACE "${marker}" "${plain}" text "${text}")
    endif()
  endforeach()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

function(ase_help_lines out)
  execute_process(COMMAND "${ASEHOST}" help ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "asehost help ${ARGN} failed (${rc}): ${err}")
  endif()
  ase_swap_markers(text TO)
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# Roff for plain text: backslashes escaped, a leading control character
# neutralised; with DASHES, every '-' is a minus (option names).
function(ase_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  if(ARGN STREQUAL "DASHES")
    string(REPLACE "-" "\\-" text "${text}")
  endif()
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  ase_swap_markers(text FROM)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Parses one help text into variables with the prefix `p`:
#   ${p}_intro    the text before "Usage:" (one line)
#   ${p}_usage    what follows "Usage: "
#   ${p}_sections the headings, in order; ${p}_entries_<n> per heading n:
#                 "name<TAB>description" items
#   ${p}_text     the free text after the lists, one item per paragraph
macro(ase_parse_help p lines)
  set(${p}_intro "")
  set(${p}_usage "")
  set(${p}_sections "")
  set(${p}_text "")
  set(section -1)
  set(paragraph "")
  foreach(line IN LISTS ${lines})
    if(line MATCHES "^Usage: (.*)$")
      set(${p}_usage "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^([A-Z][A-Za-z ]*):$")
      list(LENGTH ${p}_sections section)
      list(APPEND ${p}_sections "${CMAKE_MATCH_1}")
      set(${p}_entries_${section} "")
    elseif(section GREATER_EQUAL 0 AND line MATCHES "^  ([^ ].*)$")
      # An entry: its name runs to the first gap of two spaces.
      set(entry "${CMAKE_MATCH_1}")
      if(entry MATCHES "^([^ ]+( [^ ]+)*)  +([^ ].*)$")
        list(APPEND ${p}_entries_${section} "${CMAKE_MATCH_1}\t${CMAKE_MATCH_3}")
      else()
        list(APPEND ${p}_entries_${section} "${entry}\t")
      endif()
    elseif(section GREATER_EQUAL 0 AND line MATCHES "^   +([^ ].*)$")
      # The description (or more of it) of the entry above.
      set(more "${CMAKE_MATCH_1}")
      list(POP_BACK ${p}_entries_${section} last)
      if(last MATCHES "\t$")
        list(APPEND ${p}_entries_${section} "${last}${more}")
      else()
        list(APPEND ${p}_entries_${section} "${last} ${more}")
      endif()
    elseif(line STREQUAL "")
      if(NOT paragraph STREQUAL "")
        list(APPEND ${p}_text "${paragraph}")
        set(paragraph "")
      endif()
    elseif(${p}_usage STREQUAL "")
      string(STRIP "${${p}_intro} ${line}" ${p}_intro)
    else()
      # Free text ends the lists.
      set(section -1)
      string(STRIP "${paragraph} ${line}" paragraph)
    endif()
  endforeach()
  if(NOT paragraph STREQUAL "")
    list(APPEND ${p}_text "${paragraph}")
  endif()
  if(${p}_usage STREQUAL "")
    message(FATAL_ERROR "asehost help ${ARGN}: no \"Usage:\" line")
  endif()
endmacro()

# Appends the lists of parsed help `p` (all but the heading `skip`) as tagged
# paragraphs.
function(ase_emit_lists out p skip)
  set(page "${${out}}")
  set(n 0)
  foreach(heading IN LISTS ${p}_sections)
    if(NOT heading STREQUAL skip)
      string(APPEND page ".PP\n${heading}:\n")
      foreach(entry IN LISTS ${p}_entries_${n})
        string(FIND "${entry}" "\t" tab)
        string(SUBSTRING "${entry}" 0 ${tab} name)
        math(EXPR from "${tab} + 1")
        string(SUBSTRING "${entry}" ${from} -1 what)
        ase_roff(name "${name}" DASHES)
        ase_roff(what "${what}")
        string(APPEND page ".TP\n\\fB${name}\\fR\n${what}\n")
      endforeach()
    endif()
    math(EXPR n "${n} + 1")
  endforeach()
  set(${out} "${page}" PARENT_SCOPE)
endfunction()

ase_help_lines(top_lines)
ase_parse_help(top top_lines)
list(FIND top_sections "Subcommands" at)
if(at EQUAL -1)
  message(FATAL_ERROR "asehost help lists no commands")
endif()
set(commands "")
foreach(entry IN LISTS top_entries_${at})
  string(REGEX REPLACE "\t.*$" "" name "${entry}")
  list(APPEND commands "${name}")
endforeach()
if(commands STREQUAL "")
  message(FATAL_ERROR "asehost help lists no commands")
endif()

# The first line reads "asehost X.Y.Z: what it is".
string(REGEX REPLACE "^asehost [^:]*: *" "" summary "${top_intro}")
ase_roff(summary "${summary}")

set(page ".TH ASEHOST 1 \"\" \"asefilter ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nasehost \\- ${summary}\n.SH SYNOPSIS\n")
set(sections "")
foreach(command IN LISTS commands)
  ase_help_lines(lines "${command}")
  ase_parse_help(cmd lines "${command}")
  string(REGEX REPLACE "^asehost +" "" usage "${cmd_usage}")
  ase_roff(usage "${usage}" DASHES)
  string(APPEND page ".B asehost\n${usage}\n.br\n")
  ase_roff(intro "${cmd_intro}")
  string(APPEND sections ".SS ${command}\n${intro}\n")
  ase_emit_lists(sections cmd "")
  foreach(paragraph IN LISTS cmd_text)
    ase_roff(paragraph "${paragraph}")
    string(APPEND sections ".PP\n${paragraph}\n")
  endforeach()
endforeach()
string(APPEND page ".B asehost\n\\-\\-version\n")

string(APPEND page ".SH DESCRIPTION\n\\fBasehost\\fR is ${summary}. "
  "It loads the plug-in module through its two exports, as a host does. "
  "Each command below is described as \\fBasehost help\\fR \\fICOMMAND\\fR prints it.\n")
string(APPEND page ".SH COMMANDS\n${sections}")
string(APPEND page ".SH OPTIONS\n")
ase_emit_lists(page top "Subcommands")
set(status "")
foreach(paragraph IN LISTS top_text)
  ase_roff(paragraph "${paragraph}")
  string(APPEND status ".PP\n${paragraph}\n")
endforeach()
if(NOT status STREQUAL "")
  string(APPEND page ".SH \"EXIT STATUS\"\n${status}")
endif()
string(APPEND page ".SH \"SEE ALSO\"\n"
  "The README (share/doc/asefilter/README.md under the installation prefix, /usr for the "
  "Debian package) and the JSON Schema of the scene dump (share/asefilter/scene.schema.json).\n")

file(WRITE "${OUTPUT}.part" "${page}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
