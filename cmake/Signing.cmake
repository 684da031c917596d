# Authenticode signing of the Windows files with osslsigncode.
#
# The certificate and key are the files named by VYK_SIGN_CERT and
# VYK_SIGN_KEY (PEM; from the environment at the first configure, or -D),
# otherwise a test certificate this build tree makes once, at configure
# time, under signing/ (never committed). The signing time is VYK_SIGN_TIME
# (Unix seconds) when set, else the time the packages are dated with
# (VYK_SOURCE_DATE_EPOCH: SOURCE_DATE_EPOCH, else the commit's time), so the
# same sources, certificate and key give the same bytes.
#
#   vyk_sign_target(<target>)            signs the target's file after its link
#   vyk_sign_command(<var> <file>)       the command that signs <file> in place,
#                                        for custom commands (the drivers)
#   VYK_SIGN_CA                          the certificate a signature is checked against
if(DEFINED VYK_SIGNING_INCLUDED)
  return()
endif()
set(VYK_SIGNING_INCLUDED 1)

option(VYK_SIGN "Sign the Windows files with Authenticode" ON)
if(NOT VYK_SIGN)
  function(vyk_sign_target)
  endfunction()
  function(vyk_sign_command var)
    set(${var} "" PARENT_SCOPE)
  endfunction()
  return()
endif()

find_program(VYK_OSSLSIGNCODE osslsigncode)
find_program(VYK_OPENSSL openssl)
if(NOT VYK_OSSLSIGNCODE OR NOT VYK_OPENSSL)
  message(FATAL_ERROR "signing needs osslsigncode and openssl (scripts/setup.sh installs them), or -DVYK_SIGN=OFF")
endif()

set(VYK_SIGN_CERT "$ENV{VYK_SIGN_CERT}" CACHE FILEPATH "PEM certificate to sign with (empty: the build's test certificate)")
set(VYK_SIGN_KEY "$ENV{VYK_SIGN_KEY}" CACHE FILEPATH "PEM private key of VYK_SIGN_CERT")

if(VYK_SIGN_CERT OR VYK_SIGN_KEY)
  if(NOT EXISTS "${VYK_SIGN_CERT}" OR NOT EXISTS "${VYK_SIGN_KEY}")
    message(FATAL_ERROR "VYK_SIGN_CERT and VYK_SIGN_KEY must both name existing files "
                        "(now: '${VYK_SIGN_CERT}', '${VYK_SIGN_KEY}')")
  endif()
  set(VYK_SIGN_CERT_USED ${VYK_SIGN_CERT})
  set(VYK_SIGN_KEY_USED ${VYK_SIGN_KEY})
else()
  # A self-signed code-signing certificate of this build tree alone, valid
  # 2000 to 2099 so any fixed signing time lies inside it. vyk-test.cer is
  # the same in DER, for certutil on a test-signing machine.
  set(dir ${CMAKE_BINARY_DIR}/signing)
  set(VYK_SIGN_CERT_USED ${dir}/vyk-test-cert.pem)
  set(VYK_SIGN_KEY_USED ${dir}/vyk-test-key.pem)
  if(NOT EXISTS ${VYK_SIGN_CERT_USED} OR NOT EXISTS ${VYK_SIGN_KEY_USED})
    message(STATUS "signing: making the test certificate in ${dir}")
    file(REMOVE_RECURSE ${dir}/ca)
    file(MAKE_DIRECTORY ${dir}/ca)
    file(WRITE ${dir}/ca/index.txt "")
    file(WRITE ${dir}/ca/serial "01\n")
    file(WRITE ${dir}/ca/openssl.cnf "[ca]
default_ca = test
[test]
database = ${dir}/ca/index.txt
new_certs_dir = ${dir}/ca
serial = ${dir}/ca/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
organizationName = optional
[codesign]
basicConstraints = critical,CA:TRUE
keyUsage = critical,digitalSignature,keyCertSign
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
")
    execute_process(
      COMMAND ${VYK_OPENSSL} req -new -newkey rsa:3072 -nodes -keyout ${dir}/ca/key.pem -out ${dir}/ca/req.csr
              -subj "/O=VYK_UU/CN=VYK_UU test signing (not for release)"
      RESULT_VARIABLE rc1 OUTPUT_QUIET ERROR_VARIABLE err1)
    execute_process(
      COMMAND ${VYK_OPENSSL} ca -batch -config ${dir}/ca/openssl.cnf -selfsign -keyfile ${dir}/ca/key.pem
              -in ${dir}/ca/req.csr -startdate 20000101000000Z -enddate 20991231235959Z -extensions codesign
              -notext -out ${dir}/ca/cert.pem
      RESULT_VARIABLE rc2 OUTPUT_QUIET ERROR_VARIABLE err2)
    execute_process(
      COMMAND ${VYK_OPENSSL} x509 -in ${dir}/ca/cert.pem -outform DER -out ${dir}/vyk-test.cer
      RESULT_VARIABLE rc3 OUTPUT_QUIET ERROR_VARIABLE err3)
    if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0 OR NOT rc3 EQUAL 0)
      message(FATAL_ERROR "signing: making the test certificate failed:\n${err1}${err2}${err3}")
    endif()
    # The key last: a half-made pair is made again at the next configure.
    file(RENAME ${dir}/ca/cert.pem ${VYK_SIGN_CERT_USED})
    file(RENAME ${dir}/ca/key.pem ${VYK_SIGN_KEY_USED})
  endif()
endif()
set(VYK_SIGN_CA "${VYK_SIGN_CERT_USED}" CACHE FILEPATH
    "Certificate (chain) a signature is verified against; defaults to the signing certificate")
if(NOT VYK_SIGN_CA)
  set(VYK_SIGN_CA ${VYK_SIGN_CERT_USED})
endif()

# Worked out at every configure, so a later commit built in the same tree
# signs with its own time, as its packages are dated.
set(VYK_SIGN_TIME "" CACHE STRING "Signing time in Unix seconds (empty: VYK_SOURCE_DATE_EPOCH)")
set(VYK_SIGN_TIME_USED ${VYK_SIGN_TIME})
if(NOT VYK_SIGN_TIME_USED)
  set(VYK_SIGN_TIME_USED ${VYK_SOURCE_DATE_EPOCH})
endif()
message(STATUS "signing: ${VYK_SIGN_CERT_USED}, signing time ${VYK_SIGN_TIME_USED}")

set(VYK_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/SignFile.cmake)

function(vyk_sign_command var file)
  set(${var} ${CMAKE_COMMAND} -DOSSLSIGNCODE=${VYK_OSSLSIGNCODE} -DCERT=${VYK_SIGN_CERT_USED}
      -DKEY=${VYK_SIGN_KEY_USED} -DTIME=${VYK_SIGN_TIME_USED} -DFILE=${file} -P ${VYK_SIGN_SCRIPT} PARENT_SCOPE)
endfunction()

function(vyk_sign_target target)
  vyk_sign_command(command $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD COMMAND ${command}
                     COMMENT "Signing $<TARGET_FILE_NAME:${target}>" VERBATIM)
endfunction()
