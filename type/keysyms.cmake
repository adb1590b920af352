# Writes the keysym table that type/keysyms.cc includes: every name the X keysym headers define,
# its value and, where the header notes one, the Unicode character it stands for.
#
#   cmake -DOUT=keysyms.inc -DHEADERS=keysymdef.h -DMORE_HEADERS=XF86keysym.h -P keysyms.cmake
#
# Each header line reads `#define XK_name 0xvalue  /* U+XXXX NAME */` (XF86XK_name gives the
# name XF86name; the comment is optional, and "(U+XXXX" marks an approximate character, which is
# not taken). Deprecated aliases come after their preferred names, so a value's first name is its
# usual one.
set(entries "")
foreach(header IN LISTS HEADERS MORE_HEADERS)
  file(STRINGS "${header}" lines REGEX "^#define (XF86)?XK_[A-Za-z0-9_]+[ \t]+0x[0-9a-fA-F]+")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^#define (XF86)?XK_([A-Za-z0-9_]+)[ \t]+0x([0-9a-fA-F]+)" _ "${line}")
    set(name "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
    set(value "${CMAKE_MATCH_3}")
    set(code "0")
    if(line MATCHES "/\\* U\\+([0-9A-F]+) ")
      set(code "0x${CMAKE_MATCH_1}")
    endif()
    string(APPEND entries "{\"${name}\", 0x${value}, ${code}},\n")
  endforeach()
endforeach()
file(WRITE "${OUT}.tmp" "${entries}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
