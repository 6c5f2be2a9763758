# cmake -DIN=FILE -DOUT=FILE.gz -P gzip.cmake: compress as Debian wants documentation
# compressed (gzip -9n: best compression, no name or time stamp, so the output is the same
# for the same input).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND gzip -9n -c ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "gzip ${IN}: ${status}")
endif()
