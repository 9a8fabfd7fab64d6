# The release archive of the tool for Windows (`make package`):
# vorpanex-VERSION-windows-x64.zip with vorpanex.exe, the README and the licence in a
# folder of the same name. Every entry gets the same fixed time (taken as UTC) and the
# entries a fixed order, without the extra fields that carry owners and Unix times,
# so that the same sources give the same bytes.
find_program(VORPANEX_ZIP zip)
set(VORPANEX_WINDOWS_NAME vorpanex-${PROJECT_VERSION}-windows-x64)
set(VORPANEX_WINDOWS_ZIP ${CMAKE_BINARY_DIR}/${VORPANEX_WINDOWS_NAME}.zip)
set(stage ${CMAKE_BINARY_DIR}/zip-stage)
if(VORPANEX_ZIP)
  file(MAKE_DIRECTORY ${stage})
  add_custom_command(
    OUTPUT ${VORPANEX_WINDOWS_ZIP}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}/${VORPANEX_WINDOWS_NAME} ${VORPANEX_WINDOWS_ZIP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/${VORPANEX_WINDOWS_NAME}
    COMMAND ${CMAKE_STRIP} -o ${stage}/${VORPANEX_WINDOWS_NAME}/vorpanex.exe $<TARGET_FILE:vorpanex>
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
            ${stage}/${VORPANEX_WINDOWS_NAME}
    COMMAND chmod 0755 ${VORPANEX_WINDOWS_NAME}/vorpanex.exe
    COMMAND chmod 0644 ${VORPANEX_WINDOWS_NAME}/README.md ${VORPANEX_WINDOWS_NAME}/LICENSE
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
            touch -d 2000-01-01T00:00:00 ${VORPANEX_WINDOWS_NAME}
            ${VORPANEX_WINDOWS_NAME}/vorpanex.exe ${VORPANEX_WINDOWS_NAME}/README.md
            ${VORPANEX_WINDOWS_NAME}/LICENSE
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
            ${VORPANEX_ZIP} -X -D -q -9 ${VORPANEX_WINDOWS_ZIP} ${VORPANEX_WINDOWS_NAME}/vorpanex.exe
            ${VORPANEX_WINDOWS_NAME}/README.md ${VORPANEX_WINDOWS_NAME}/LICENSE
    WORKING_DIRECTORY ${stage}
    DEPENDS vorpanex ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
    VERBATIM)
  add_custom_target(windows_zip DEPENDS ${VORPANEX_WINDOWS_ZIP})
else()
  add_custom_target(windows_zip
    COMMAND ${CMAKE_COMMAND} -E echo "package: zip is not installed; ${VORPANEX_WINDOWS_NAME}.zip not made"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
