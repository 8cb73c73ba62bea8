# voxletter-cli picture on every sample: each good one prints its sizes and writes a PNG of the printed
# size; each broken one is refused with its message and a non-zero exit. Run with -DCLI -DDATA -DOUT.
file(MAKE_DIRECTORY ${OUT})
set(good animated.gif base-96dpi.jpg base-nodpi.jpg prog-300dpi.jpg transparent.gif mono1.bmp pal8.bmp rgb24.bmp
    rgb32.bmp topdown24.bmp inkscape-shapes.wmf inkscape-big.wmf libreoffice-shapes.wmf libuemf-records.wmf
    libuemf-noplaceable.wmf broken-record-size.wmf)
foreach(name ${good})
  execute_process(COMMAND ${CLI} picture ${DATA}/${name} --dpi 96 -o ${OUT}/${name}.png
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${OUT}/${name}.png)
    message(FATAL_ERROR "${name}: exit ${rc}\n${out}${err}")
  endif()
  if(NOT out MATCHES "HIMETRIC [0-9]+ x [0-9]+\npixels ([0-9]+) x ([0-9]+) at 96 dpi")
    message(FATAL_ERROR "${name}: unexpected output\n${out}")
  endif()
endforeach()

set(broken "empty.jpg=不支持的文件格式" "text-named.jpg=不支持的文件格式" "truncated.jpg=不支持的文件格式"
    "huge-declared.bmp=不支持的文件格式" "no-such-file.wmf=无法打开文件")
foreach(entry ${broken})
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 name)
  list(GET pair 1 message)
  execute_process(COMMAND ${CLI} picture ${DATA}/${name} -o ${OUT}/${name}.png
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "${message}" OR EXISTS ${OUT}/${name}.png)
    message(FATAL_ERROR "${name}: exit ${rc}, expected a refusal with ${message}\n${out}${err}")
  endif()
endforeach()
