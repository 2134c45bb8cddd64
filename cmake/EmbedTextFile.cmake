# Run with cmake -P (see SelvoEmbedText.cmake): writes OUTPUT, a .cpp whose
# FUNCTION answers the bytes of SOURCE as one raw string literal. The
# literal's delimiter is chosen so that it cannot occur in the text.
file(READ ${SOURCE} text)
if(text MATCHES "\r")
  # A raw literal would not keep a carriage return as it is in the file.
  message(FATAL_ERROR "${SOURCE}: carriage returns cannot be embedded; save the file with LF line ends")
endif()
set(n 0)
set(delimiter "embed${n}")
string(FIND "${text}" ")${delimiter}\"" found)
while(NOT found EQUAL -1)
  math(EXPR n "${n} + 1")
  set(delimiter "embed${n}")
  string(FIND "${text}" ")${delimiter}\"" found)
endwhile()
file(WRITE ${OUTPUT}
  "// Made from ${SOURCE} at build time: edit that file, not this one.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace ${NAMESPACE} {\n\n"
  "std::string_view ${FUNCTION}() {\n"
  "  static constexpr std::string_view kText = R\"${delimiter}(${text})${delimiter}\";\n"
  "  return kText;\n"
  "}\n\n"
  "}  // namespace ${NAMESPACE}\n")
