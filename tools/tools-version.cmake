# Run by every build of the Linux tools (cmake -DROOT=... -DOUT=... -P): writes OUT, the
# definition of kToolsVersion, from tools/utility-version.sh --build. OUT is rewritten only
# when the text changes, so a build after a commit recompiles that one file and relinks the
# tools, and any other build leaves everything as it is.
execute_process(COMMAND /bin/sh "${ROOT}/tools/utility-version.sh" --build
                OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "tools/utility-version.sh --build failed")
endif()
string(CONCAT text "// Written by tools/tools-version.cmake at build time.\n"
            "#include \"platform/posix/tools_version.h\"\n\n"
            "const char kToolsVersion[] = \"${version}\";\n")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
