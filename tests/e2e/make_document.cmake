# Fills the end-to-end deployment template with the sizes and MD5 digests of
# the files that the build made.
#   cmake -DTEMPLATE=... -DOUTPUT=... -DCLIENT=... -DSETUP=... -DINSTALLER=... -P make_document.cmake
file(SIZE ${CLIENT} CLIENT_SIZE)
file(MD5 ${CLIENT} CLIENT_MD5)
set(CLIENT_LOCATION "<Location type=\"copy\" file=\"[ExeFolder]\\e2e\\VantorConnect.exe\"/>")
if(CLIENT_SOURCE STREQUAL "slow")
  # A slow download from the test server (port 18742), to cancel in the
  # middle: its body is the server's pattern, so it has no digest here.
  set(CLIENT_SIZE 2000000)
  set(CLIENT_MD5 "")
  set(CLIENT_LOCATION "<Location type=\"download\" file=\"http://127.0.0.1:18742/trickle/2000000/50\"/>")
endif()
file(SIZE ${SETUP} SETUP_SIZE)
file(MD5 ${SETUP} SETUP_MD5)
if(NOT CHECK)
  set(CHECK QvInstalled)
endif()
# Flags of the variant's own, given as NAME=VALUE: quiet=true becomes quiet="true".
string(REGEX REPLACE "([a-z]+)=([a-z]+)" " \\1=\"\\2\"" EXTRA_FLAGS "${EXTRA_FLAGS}")
# NONE: a document without a configuration path.
if(CONFIG STREQUAL "NONE")
  set(CONFIG "")
else()
  set(CONFIG "[TempFolder]\\QvConfig.xml")
endif()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
