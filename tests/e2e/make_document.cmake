# Fills the end-to-end deployment template with the sizes and MD5 digests of
# the files that the build made.
#   cmake -DTEMPLATE=... -DOUTPUT=... -DCLIENT=... -DSETUP=... -DINSTALLER=... -P make_document.cmake
file(SIZE ${CLIENT} CLIENT_SIZE)
file(MD5 ${CLIENT} CLIENT_MD5)
file(SIZE ${SETUP} SETUP_SIZE)
file(MD5 ${SETUP} SETUP_MD5)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
