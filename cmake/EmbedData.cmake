# Writes a C++ source holding the bytes of data files, so that programs find
# them wherever they are installed or moved.
#   cmake -DOUTPUT=<file.cpp> -DFILES=<path|path|...> -P EmbedData.cmake
# Each file is filed under the name of its folder and its own name.
string(REPLACE "|" ";" _files "${FILES}")
list(SORT _files)
set(_arrays "")
set(_entries "")
set(_n 0)
foreach(_f IN LISTS _files)
  get_filename_component(_name "${_f}" NAME)
  get_filename_component(_dir "${_f}" DIRECTORY)
  get_filename_component(_folder "${_dir}" NAME)
  file(READ "${_f}" _hex HEX)
  string(LENGTH "${_hex}" _len)
  math(EXPR _size "${_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," _bytes "${_hex}")
  string(APPEND _arrays "const char kData${_n}[] = {${_bytes} 0};\n")
  string(APPEND _entries "    {\"${_folder}\", \"${_name}\", kData${_n}, ${_size}},\n")
  math(EXPR _n "${_n} + 1")
endforeach()
set(_text "// Generated from the data folder by cmake/EmbedData.cmake; do not edit.
#include \"product/EmbeddedData.h\"

namespace product {
namespace {
${_arrays}}  // namespace

const EmbeddedFile kEmbeddedFiles[] = {
${_entries}    {nullptr, nullptr, nullptr, 0},
};

}  // namespace product
")
file(WRITE "${OUTPUT}" "${_text}")
