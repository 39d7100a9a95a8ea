# cmake -P script behind man_page_test (see CMakeLists.txt): runs
# cmake/ManPage.cmake on a stand-in asehost whose help has CLI11's shape and
# the text a manual page must escape, and checks the roff it writes. A help
# without a "Usage:" line must fail the generator and write no page.

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(fake "${WORK_DIR}/asehost")
file(WRITE "${fake}" [=[#!/bin/sh
if [ "$1" != help ]; then exit 1; fi
case "$2" in
"") cat <<'TEXT'
asehost 9.8.7: a stand-in [for tests]
Usage: asehost [OPTIONS] [SUBCOMMAND]

Options:
  -h,--help                   Print this help message and exit

Subcommands:
  copy                        Copy a file; keep it
  broken                      Has no usage line

Exit codes: 0 done; 1 failed.
TEXT
;;
copy) cat <<'TEXT'
Copy a file; keep it
Usage: asehost copy [OPTIONS] IN OUT

Positionals:
  IN TEXT REQUIRED            File to read

Options:
  --a-very-long-option-name TEXT:{on,off}=on
                              Tick (on) or clear (off)
                              the check box
  --path TEXT                 A folder such as C:\temp

.hidden text that starts with a dot
TEXT
;;
broken) echo "Nothing here" ;;
esac
]=])
file(CHMOD "${fake}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(generate rc_var)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DASEHOST=${fake}" "-DOUTPUT=${WORK_DIR}/asehost.1"
    -DVERSION=9.8.7 -P "${MAN_PAGE_SCRIPT}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  set(${rc_var} "${rc}" PARENT_SCOPE)
  set(generate_error "${err}" PARENT_SCOPE)
endfunction()

# A command whose help lacks the usage line: refused, nothing written.
generate(rc)
if(rc EQUAL 0 OR EXISTS "${WORK_DIR}/asehost.1")
  message(FATAL_ERROR "a help without \"Usage:\" gave a page (${rc})")
endif()
if(NOT generate_error MATCHES "broken: no \"Usage:\" line")
  message(FATAL_ERROR "the failure does not name the command:\n${generate_error}")
endif()

# Without it, the page: every expected piece, in order.
file(READ "${fake}" script)
string(REPLACE "  broken                      Has no usage line\n" "" script "${script}")
file(WRITE "${fake}" "${script}")
generate(rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the generator failed (${rc}):\n${generate_error}")
endif()
file(READ "${WORK_DIR}/asehost.1" page)
set(expected
  ".TH ASEHOST 1 \"\" \"asefilter 9.8.7\" \"User Commands\"\n"
  ".SH NAME\nasehost \\- a stand-in [for tests]\n"
  ".B asehost\ncopy [OPTIONS] IN OUT\n"
  ".SS copy\nCopy a file; keep it\n"
  "Positionals:\n.TP\n\\fBIN TEXT REQUIRED\\fR\nFile to read\n"
  ".TP\n\\fB\\-\\-a\\-very\\-long\\-option\\-name TEXT:{on,off}=on\\fR\nTick (on) or clear (off) the check box\n"
  "A folder such as C:\\etemp\n"
  ".PP\n\\&.hidden text that starts with a dot\n"
  ".SH OPTIONS\n.PP\nOptions:\n.TP\n\\fB\\-h,\\-\\-help\\fR\n"
  ".SH \"EXIT STATUS\"\n.PP\nExit codes: 0 done; 1 failed.\n")
set(from 0)
foreach(piece IN LISTS expected)
  string(SUBSTRING "${page}" ${from} -1 rest)
  string(FIND "${rest}" "${piece}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the page lacks, at or after offset ${from}:\n${piece}\npage:\n${page}")
  endif()
  string(LENGTH "${piece}" length)
  math(EXPR from "${from} + ${at} + ${length}")
endforeach()
# The list above splits its pieces at ';': the text keeps them.
foreach(kept "Copy a file; keep it\n" "0 done; 1 failed.")
  string(FIND "${page}" "${kept}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the page lost a ';' of \"${kept}\":\n${page}")
  endif()
endforeach()
