# libopusenc's header includes libopus's by its bare name: both folders go
# on the include path. The library itself is loaded at run time.
pkg_check_modules(OPUSENC REQUIRED libopusenc)
target_include_directories(quellmark_codecs PUBLIC ${OPUSENC_INCLUDE_DIRS})
