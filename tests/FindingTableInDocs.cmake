# Fails when the table of findings in docs/checking-a-bundle.md differs from
# the check's own (applauncher-check --finding-table), and prints the table
# to put there.
#   cmake -DCHECK=<applauncher-check> -DDOC=<checking-a-bundle.md> -P ...
execute_process(COMMAND ${CHECK} --finding-table OUTPUT_VARIABLE table
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CHECK} --finding-table: status ${status}")
endif()
file(READ ${DOC} doc)
set(begin "<!-- applauncher-check --finding-table -->\n")
set(end "<!-- end of the finding table -->")
string(FIND "${doc}" "${begin}" from)
string(FIND "${doc}" "${end}" to)
if(from EQUAL -1 OR to EQUAL -1)
  message(FATAL_ERROR "${DOC} has no table between \"${begin}\" and \"${end}\"")
endif()
string(LENGTH "${begin}" length)
math(EXPR from "${from} + ${length}")
math(EXPR length "${to} - ${from}")
string(SUBSTRING "${doc}" ${from} ${length} documented)
if(NOT documented STREQUAL table)
  message(FATAL_ERROR "The table of findings in ${DOC} is not the check's; "
    "put this one there:\n${table}")
endif()
message(STATUS "${DOC}: the table of findings is the check's")
