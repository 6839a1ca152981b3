# Writes the manual page of the update server, legisdisco-update-server.1.gz, from its
# --help, so that the two never disagree, and the package's changelog.gz beside it: both
# compressed as Debian wants them (gzip -9n, no name or time stamp inside).
#
#   cmake -DPROGRAM=... -DVERSION=... -DCHANGELOG=... -DOUT=folder -P manpage.cmake
#
# --help is laid out like a manual page already: section headings at the margin; under
# them text indented by four, and the text of an option, a file or an exit status indented
# by eight below its term; under EXAMPLES, the commands indented by eight below their
# description, kept line for line.

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()

# Characters roff would take as its own: the backslash, and the hyphen, which must stay a
# minus sign to be typed back from the page.
function(roff_text text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    if(text MATCHES "^[.']")
        set(text "\\&${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(page ".TH LEGISDISCO\\-UPDATE\\-SERVER 1 \"\" \"Legisdisco ${VERSION}\" \"User Commands\"\n")
set(section "")
set(mode "") # what the last line opened: text, term, or verbatim
set(closing "") # what ends the verbatim lines open
# Line by line; not as a CMake list, which would take the brackets of the synopsis and a
# backslash at the end of a line for its own syntax.
while(NOT help STREQUAL "")
    string(FIND "${help}" "\n" end)
    if(end EQUAL -1)
        set(line "${help}")
        set(help "")
    else()
        string(SUBSTRING "${help}" 0 ${end} line)
        math(EXPR next "${end} + 1")
        string(SUBSTRING "${help}" ${next} -1 help)
    endif()

    if(line STREQUAL "")
        string(APPEND page "${closing}.PP\n")
        set(mode "")
        set(closing "")
    elseif(line MATCHES "^[^ ]")
        set(section "${line}")
        set(mode "")
        string(APPEND page ".SH ${line}\n")
    elseif(section STREQUAL "SYNOPSIS" AND line MATCHES "^    (.*)$")
        roff_text("${CMAKE_MATCH_1}" text)
        if(NOT mode STREQUAL "verbatim")
            string(APPEND page ".nf\n")
            set(mode "verbatim")
            set(closing ".fi\n")
        endif()
        string(APPEND page "${text}\n")
    elseif(line MATCHES "^        (.*)$")
        roff_text("${CMAKE_MATCH_1}" text)
        if(section STREQUAL "EXAMPLES" AND NOT mode STREQUAL "verbatim")
            string(APPEND page ".RS\n.nf\n")
            set(mode "verbatim")
            set(closing ".fi\n.RE\n")
        endif()
        string(APPEND page "${text}\n")
    elseif(line MATCHES "^    (.*)$")
        roff_text("${CMAKE_MATCH_1}" text)
        if(section MATCHES "^(OPTIONS|FILES|EXIT STATUS)$")
            string(APPEND page ".TP\n.B ${text}\n")
            set(mode "term")
        else()
            string(APPEND page "${text}\n")
            set(mode "text")
        endif()
    endif()
endwhile()
string(APPEND page "${closing}")
# A new section starts a paragraph of its own.
string(REPLACE ".PP\n.SH " ".SH " page "${page}")

file(WRITE "${OUT}/legisdisco-update-server.1" "${page}")
foreach(file "${OUT}/legisdisco-update-server.1" "${CHANGELOG}")
    get_filename_component(name "${file}" NAME)
    execute_process(COMMAND gzip -9n -c "${file}" OUTPUT_FILE "${OUT}/${name}.gz"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip ${file} failed")
    endif()
endforeach()
