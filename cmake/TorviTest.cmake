# What every test process gets under the sanitizers. intercept_tls_get_addr=0: this compiler's
# sanitizer runtime takes a dynamic TLS block for an old glibc's when its address happens to fall
# on one offset in a page, and LeakSanitizer's tracer then dies at exit reading a bogus range; the
# tests pass and the process fails. Nothing of the project keeps memory only in dynamic TLS.
set(TORVI_SANITIZER_ENV
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "ASAN_OPTIONS=intercept_tls_get_addr=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# torvi_add_test(<name> SOURCES <files...> LIBS <targets...> [LOCALES <locale...>])
# One Qt Test executable, registered with CTest and run without a display. Each locale named in
# LOCALES registers the same executable once more with that process locale, for code whose output
# must not depend on it.
function(torvi_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LOCALES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test torvi_test_support ${T_LIBS} torvi_build_options)
    set(env "QT_QPA_PLATFORM=offscreen" ${TORVI_SANITIZER_ENV})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
    foreach(loc ${T_LOCALES})
        string(MAKE_C_IDENTIFIER "${loc}" suffix)
        add_test(NAME ${name}_${suffix} COMMAND ${name})
        set_tests_properties(${name}_${suffix} PROPERTIES
            ENVIRONMENT "${env};LC_ALL=${loc};LANG=${loc};LANGUAGE=" TIMEOUT 600)
    endforeach()
endfunction()
