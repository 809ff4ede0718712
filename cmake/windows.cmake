# The Windows build: cross-compiled with MinGW-w64 against a static Qt and OpenSSL.
# Every executable is linked statically, so nothing but system DLLs is loaded: the updater
# must never hold open a library that an update may have to replace.
add_link_options(-static $<$<CONFIG:Release>:-s>)

# The static libzstd for Windows lies beside the static Qt and OpenSSL (scripts/setup-windows.sh).
list(APPEND CMAKE_FIND_ROOT_PATH /opt/zstd-win64)

# update_windows_resources(TARGET DESCRIPTION): the program icon (the first icon resource is
# what Explorer shows) and the version information, as a Windows resource.
function(update_windows_resources target description)
    set(UPDATE_RC_ICON "${PROJECT_SOURCE_DIR}/ui/resources/icon.ico")
    set(UPDATE_RC_DESCRIPTION "${description}")
    set(UPDATE_RC_FILENAME "$<TARGET_FILE_NAME:${target}>")
    set(UPDATE_RC_NAME "${target}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc.in @ONLY)
    file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc
         INPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc.in)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
