# Writes OUTPUT, a C++ source holding the bytes of every file given in FILES
# (absolute paths joined by |), served under "/" + the file's name.
string(REPLACE "|" ";" FILES "${FILES}")
set(body "")
set(table "")
set(n 0)
foreach(file IN LISTS FILES)
  get_filename_component(name "${file}" NAME)
  get_filename_component(ext "${file}" LAST_EXT)
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  else()
    set(type "application/octet-stream")
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char asset${n}[] = {${bytes}0};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\", asset${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from tools/orvex/view/web at build time.
#include \"view/Assets.h\"


namespace orvex::cli {
namespace {
${body}
const ViewAsset assets[] = {
${table}};
} // namespace

const ViewAsset* findViewAsset(const std::string& path)
{
    for (const ViewAsset& asset : assets) {
        if (path == asset.path)
            return &asset;
    }
    return nullptr;
}

} // namespace orvex::cli
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
