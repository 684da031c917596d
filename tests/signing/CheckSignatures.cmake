# cmake -DOSSLSIGNCODE= -DOPENSSL= -DCERT= -DCA= -DWORK= -DFILES=<file;...>
#       -DEMBEDDED=<inner>outer;...> -P CheckSignatures.cmake
# Each file must carry a valid Authenticode signature made with CERT (its
# leaf hash is required) that chains to CA; each inner file must appear
# byte for byte inside its outer file, so what is embedded is the signed copy.
cmake_minimum_required(VERSION 3.25)
set(failed 0)

execute_process(COMMAND ${OPENSSL} x509 -in ${CERT} -outform DER -out ${WORK}/signer.der RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${CERT}: not a PEM certificate")
endif()
file(SHA256 ${WORK}/signer.der leaf)

foreach(file IN LISTS FILES)
  execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${CA} -require-leaf-hash sha256:${leaf} -in ${file}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0)
    message(STATUS "signed: ${file}")
  else()
    message(SEND_ERROR "${file}: no valid signature by ${CERT}\n${out}${err}")
    set(failed 1)
  endif()
endforeach()

foreach(pair IN LISTS EMBEDDED)
  string(REPLACE ">" ";" pair "${pair}")
  list(GET pair 0 inner)
  list(GET pair 1 outer)
  file(READ ${inner} innerHex HEX)
  file(READ ${outer} outerHex HEX)
  string(FIND "${outerHex}" "${innerHex}" at)
  math(EXPR odd "${at} % 2")
  if(at LESS 0 OR odd)
    message(SEND_ERROR "${outer} does not hold the signed ${inner}")
    set(failed 1)
  else()
    message(STATUS "embedded: ${inner} in ${outer}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "signature check failed")
endif()
