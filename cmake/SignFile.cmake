# cmake -DOSSLSIGNCODE=... -DCERT=... -DKEY=... -DTIME=<unix seconds or empty> -DFILE=... -P SignFile.cmake
# Signs FILE in place with an Authenticode SHA-256 signature. The signed
# copy is made beside it and renamed over it, so FILE is never half signed.
set(args sign -certs ${CERT} -key ${KEY} -n VYK_UU -h sha256)
if(TIME)
  list(APPEND args -time ${TIME})
endif()
set(temp ${FILE}.signing)
file(REMOVE ${temp})
execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${FILE} -out ${temp}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE ${temp})
  message(FATAL_ERROR "signing ${FILE} failed:\n${out}${err}")
endif()
file(RENAME ${temp} ${FILE})
