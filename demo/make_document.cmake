# Fills the demo deployment template with the port of the demo's web server
# and the sizes and MD5 digests of the files that the build put there.
#   cmake -DTEMPLATE=... -DOUTPUT=... -DWWW=... -DDEMO_PORT=... -P make_document.cmake
foreach(item IN ITEMS
    STANDARD_CAB:Standard/TesselStandard1.cab
    STANDARD_MSI:Standard/TesselStandard.msi
    STANDARD_SETUP:Standard/SetupStandard.exe
    ENTERPRISE_CAB:Enterprise/TesselEnterprise1.cab
    ENTERPRISE_MSI:Enterprise/TesselEnterprise.msi
    ENTERPRISE_SETUP:Enterprise/SetupEnterprise.exe)
  string(REPLACE ":" ";" pair ${item})
  list(GET pair 0 name)
  list(GET pair 1 file)
  file(SIZE ${WWW}/${file} ${name}_SIZE)
  file(MD5 ${WWW}/${file} ${name}_MD5)
endforeach()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
