# Run at every build: writes OUT from IN with the commit of the sources in
# SOURCE_DIR. configure_file leaves OUT alone when nothing changed, so an
# unchanged tree rebuilds nothing.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse HEAD
                OUTPUT_VARIABLE BRELO_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE commit_failed ERROR_QUIET)
execute_process(COMMAND git -C "${SOURCE_DIR}" describe --tags --always --dirty
                OUTPUT_VARIABLE BRELO_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE version_failed ERROR_QUIET)
if(commit_failed)
  set(BRELO_COMMIT "")
endif()
if(version_failed)
  set(BRELO_VERSION "")
endif()
configure_file("${IN}" "${OUT}" @ONLY)
