# Writes a C++ source that holds the bytes of every file under ROOT/lang and
# ROOT/help, so that the program carries its default texts with it.
#   cmake -DROOT=dir -DOUT=file.cpp -P embed_files.cmake
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/lang/* ${ROOT}/help/*)
list(SORT files)
set(body "")
set(table "")
set(i 0)
foreach(name ${files})
  file(READ ${ROOT}/${name} hex HEX)
  string(LENGTH "${hex}" len)
  math(EXPR size "${len} / 2")
  if(size EQUAL 0)
    set(bytes "0")
  else()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  endif()
  string(APPEND body "const unsigned char kFile${i}[] = {\n${bytes}};\n")
  string(APPEND table "    {\"${name}\", kFile${i}, ${size}},\n")
  math(EXPR i "${i} + 1")
endforeach()
set(text "// Generated from the files under data/ at build time; do not edit.
#include \"bbs/default_texts.h\"

namespace orn {
namespace {
${body}
const ShippedFile kFiles[] = {
${table}};
}  // namespace

std::span<const ShippedFile> ShippedFiles() { return kFiles; }

}  // namespace orn
")
file(WRITE ${OUT} "${text}")
