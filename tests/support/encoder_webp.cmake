# Makes the real encoder's WebP samples for the tests at build time: a
# picture from ImageMagick, then cwebp in the three layouts sites serve, and
# a C++ source holding the files' bytes.
#   cmake -DCONVERT=... -DCWEBP=... -DWORK=<folder> -DOUT=<file.cpp> -P encoder_webp.cmake
foreach(tool CONVERT CWEBP)
  if(NOT ${tool} OR ${tool} MATCHES "NOTFOUND$")
    message(FATAL_ERROR "the tests' WebP samples need ImageMagick's convert and cwebp "
                        "(Debian packages imagemagick and webp)")
  endif()
endforeach()
set(width 96)
set(height 128)
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE error OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${error}")
  endif()
endfunction()

# A seeded fractal: the same picture on every run, with the detail of a photograph.
run(${CONVERT} -size ${width}x${height} -seed 7 plasma:fractal -depth 8 PNG24:${WORK}/page.png)
# The same with an alpha ramp from left to right.
run(${CONVERT} ${WORK}/page.png -alpha set -channel A -fx "i/w" +channel PNG32:${WORK}/alpha.png)
run(${CWEBP} -quiet -q 80 ${WORK}/page.png -o ${WORK}/lossy.webp)
run(${CWEBP} -quiet -q 80 ${WORK}/alpha.png -o ${WORK}/lossy-alpha.webp)
run(${CWEBP} -quiet -lossless ${WORK}/page.png -o ${WORK}/lossless.webp)

set(source "// Made at build time by encoder_webp.cmake; do not edit.\n")
string(APPEND source "#include \"support/webp_maker.h\"\n\nnamespace folivex {\nnamespace {\n")
set(entries "")
# CMake's expressions know no {n}: the pattern of 32 escaped bytes is spelled out.
string(REPEAT "\\\\x[0-9a-f][0-9a-f]" 32 piece)
set(index 0)
foreach(name lossy lossy-alpha lossless)
  file(READ ${WORK}/${name}.webp hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  # Short string pieces keep the source within every compiler's limits.
  string(REGEX REPLACE "(${piece})" "\\1\"\n    \"" escaped "${escaped}")
  set(variable kSample${index})
  math(EXPR index "${index} + 1")
  string(APPEND source "const char ${variable}[] =\n    \"${escaped}\";\n")
  if(name STREQUAL "lossy-alpha")
    set(alpha true)
  else()
    set(alpha false)
  endif()
  string(APPEND entries "      {\"${name}\", std::string(${variable}, ${size}), ${width}, ${height}, ${alpha}},\n")
endforeach()
string(APPEND source "}  // namespace\n\nconst std::vector<EncoderWebp>& EncoderWebpSamples() {\n")
string(APPEND source "  static const std::vector<EncoderWebp> samples = {\n${entries}  };\n  return samples;\n}\n\n")
string(APPEND source "}  // namespace folivex\n")
file(WRITE ${OUT}.new "${source}")
file(RENAME ${OUT}.new ${OUT})
