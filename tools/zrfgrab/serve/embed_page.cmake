# Inlines page/style.css and page/app.js into page/index.html (where it says so) and writes the
# document as a C++ source defining zrfgrab::serve::LivePage().
file(READ ${DIR}/index.html html)
file(READ ${DIR}/style.css css)
file(READ ${DIR}/app.js js)
string(REPLACE "<link rel=\"stylesheet\" href=\"style.css\">" "<style>\n${css}</style>" html "${html}")
string(REPLACE "<script src=\"app.js\"></script>" "<script>\n${js}</script>" html "${html}")
file(WRITE ${OUT}.html "${html}")
file(READ ${OUT}.html hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR len "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUT} "// Generated from tools/zrfgrab/serve/page; do not edit.\n"
  "#include \"tools/zrfgrab/serve/live_page.h\"\n"
  "namespace zrfgrab::serve {\n"
  "namespace {\nconst unsigned char kPage[] = {${bytes}0x00};\n}\n"
  "std::string_view LivePage() { return {reinterpret_cast<const char*>(kPage), ${len}}; }\n"
  "}\n")
