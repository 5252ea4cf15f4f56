# Flags for the project's own targets. Generated protobuf code gets none of
# the warnings-as-errors treatment (see zt_project_target).

if(ZT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Qt's `signals` keyword would break the generated accessor Update::signals().
add_compile_definitions(QT_NO_KEYWORDS)

function(zt_project_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZT_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# gtest_discover_tests runs each binary at build time; give Qt a platform
# that needs no display while it does.
set(ZT_TEST_ENV "QT_QPA_PLATFORM=offscreen")
