# Read by cpack before it packages: the tool must carry the stub.
if(NOT CPACK_VORPANEX_STUB_EMBEDDED)
  message(FATAL_ERROR "vorpanex was built without a stub (VORPANEX_STUB_FILE), so its "
                      "pack verb could not make setups; build it with `make tool`")
endif()
