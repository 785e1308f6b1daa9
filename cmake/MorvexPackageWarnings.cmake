# Strict warnings for the project's own code; generated code is left alone.
# Records are aggregates whose every field has a default, so designated
# initialisers that leave fields out are intended: that one warning is off.
function(morvex_package_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
endfunction()
