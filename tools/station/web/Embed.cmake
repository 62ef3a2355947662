# Turns the web page into a C++ string constant: cmake -DINPUT=page.html
# -DOUTPUT=WebPage.inc -P Embed.cmake. The page must not contain the raw
# string's closing delimiter.
file(READ ${INPUT} page)
string(FIND "${page}" ")zevapage\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the delimiter )zevapage\"")
endif()
file(WRITE ${OUTPUT} "static const char kWebPage[] = R\"zevapage(${page})zevapage\";\n")
