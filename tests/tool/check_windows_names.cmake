# Runs windows_names.exe under Wine and compares what it prints with the committed
# table archive/names_windows.inc; on a difference, the new table is left at OUT.
execute_process(COMMAND ${WINE_RUN} ${PROGRAM} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "windows_names.exe failed (${status})")
endif()
file(READ ${OUT} made)
file(READ ${TABLE} committed)
if(NOT made STREQUAL committed)
  message(FATAL_ERROR "Windows folds names otherwise than ${TABLE} says: the table it "
                      "prints is ${OUT}")
endif()
