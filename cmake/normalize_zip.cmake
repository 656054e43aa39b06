# Run by CPack after it has written the archive: entry times become
# SOURCE_DATE_EPOCH as configured (1980-01-01 without it), the one thing that
# differed between two packages of one source.
set(time_args)
if(NOT "${CPACK_PLENVOR_EPOCH}" STREQUAL "")
  set(time_args --timestamp ${CPACK_PLENVOR_EPOCH})
endif()
foreach(file IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND ${CPACK_PLENVOR_STRIP_NONDETERMINISM} --type zip ${time_args} ${file}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
