# The Windows vykuu under Wine: flash and read back on the simulator, once
# with the simulator built in (--sim) and once through the simulator's port
# library standing as io.dll beside the executable, the way real ports are
# reached on Windows.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${EMULATOR} ${VYKSIMCTL} init nb WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vyksimctl init nb: exit ${rc}\n${err}")
endif()
file(COPY ${VYKUU} DESTINATION ${WORK})
file(COPY_FILE ${VYKSIM} ${WORK}/io.dll)

# 128 KiB of a repeating, non-constant pattern; a control byte in it, as a
# text file would be refused as an image.
string(ASCII 1 soh)
string(REPEAT "${soh}123456789ABCDEF" 8192 image)
file(WRITE ${WORK}/image.bin "${image}")

function(run expected)
  execute_process(COMMAND ${EMULATOR} ${WORK}/vykuu.exe ${ARGN}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected)
    message(FATAL_ERROR "vykuu ${ARGN}: exit ${rc}, expected ${expected}\n${out}\n${err}")
  endif()
endfunction()

run(0 --sim nb --quiet flash --port 1 image.bin)
run(0 --sim nb --quiet read --port 1 -o sim-read.bin)
set(ENV{VYKSIM_DIR} ${WORK}/nb)
run(0 --quiet read --port 1 -o dll-read.bin)
run(0 --quiet flash --port 2 --start 010000 --end 010200 image.bin)
run(7 --quiet flash --port 2 --start 010000 --end 010000 image.bin)
run(4 --port-library missing.dll version)

string(SUBSTRING "${image}" 49152 81664 expected)
foreach(name sim-read.bin dll-read.bin)
  file(READ ${WORK}/${name} got)
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${name} differs from the image's range 00C000..01FEFF")
  endif()
endforeach()
