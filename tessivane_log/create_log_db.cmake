# Creates the log database LOG_DB from the schema file LOG_SCHEMA with the sqlite3 shell SQLITE3,
# only when LOG_DB does not exist yet: an existing audit log is never touched.
# Used by the install step and runnable alone:
#   cmake -DLOG_DB=... -DLOG_SCHEMA=.../schema.sql [-DSQLITE3=sqlite3] -P create_log_db.cmake
if(NOT SQLITE3)
  set(SQLITE3 sqlite3)
endif()
if(EXISTS "${LOG_DB}")
  message(STATUS "Log database kept: ${LOG_DB}")
  return()
endif()
get_filename_component(_log_dir "${LOG_DB}" DIRECTORY)
file(MAKE_DIRECTORY "${_log_dir}")
# Built beside the final name and renamed into place, so a failed run never leaves a half-made
# database that later runs would keep.
set(_partial "${LOG_DB}.partial")
file(REMOVE "${_partial}")
execute_process(COMMAND "${SQLITE3}" -bail "${_partial}" INPUT_FILE "${LOG_SCHEMA}"
                RESULT_VARIABLE _rc ERROR_VARIABLE _err)
if(NOT _rc EQUAL 0)
  file(REMOVE "${_partial}")
  message(FATAL_ERROR "Cannot create the log database ${LOG_DB}: ${_rc} ${_err}")
endif()
file(RENAME "${_partial}" "${LOG_DB}")
message(STATUS "Log database created: ${LOG_DB}")
