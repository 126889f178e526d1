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
# A third component of 16 MiB from the test server, which serves it slowly
# whole and at once in part: for the download cache. Its body is the
# server's pattern, whose digest Python gives.
set(EXTRA_COMPONENT "")
if(CLIENT_SOURCE STREQUAL "cached")
  execute_process(
    COMMAND python3 -c "import hashlib; print(hashlib.md5(bytes((i * 31) & 255 for i in range(256)) * 65536).hexdigest())"
    OUTPUT_VARIABLE DATA_MD5 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(EXTRA_COMPONENT "<Component name=\"Data\" display=\"Tessel Data\" check=\"QvInstalled\" dest=\"[TempFolder]\\Standard\" filename=\"data.bin\" size=\"16777216\" md5=\"${DATA_MD5}\" requiresadmin=\"false\"><Location type=\"download\" file=\"http://127.0.0.1:18742/script/16777216/resumable-20?u=e2e-cache\"/></Component>")
endif()
# A small third component from the test server, for a run whose installer
# needs the consent prompt: the download cache hands it over as a second name.
if(CLIENT_SOURCE STREQUAL "prompted")
  execute_process(
    COMMAND python3 -c "import hashlib; print(hashlib.md5(bytes((i * 31 + 7) & 255 for i in range(65536))).hexdigest())"
    OUTPUT_VARIABLE DATA_MD5 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(EXTRA_COMPONENT "<Component name=\"Data\" display=\"Tessel Data\" check=\"QvInstalled\" dest=\"[TempFolder]\\Standard\" filename=\"data.bin\" size=\"65536\" md5=\"${DATA_MD5}\" requiresadmin=\"false\"><Location type=\"download\" file=\"http://127.0.0.1:18742/bytes/65536?seed=7\"/></Component>")
endif()
# A setup source that is an address is downloaded from there.
if(SETUP_SOURCE MATCHES "^http")
  set(SETUP_LOCATION "<Location type=\"download\" file=\"${SETUP_SOURCE}\"/>")
else()
  set(SETUP_LOCATION "<Location type=\"copy\" file=\"[ExeFolder]\\e2e\\${SETUP_SOURCE}\"/>")
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
