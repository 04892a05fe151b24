# cmake -DINPUT=program.bin -DOUTPUT=program.inc -P embed_bytes.cmake
# Writes the bytes of INPUT as a comma-separated list of hexadecimal constants, for an array
# initialiser in C++.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," list "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" list "${list}")
file(WRITE ${OUTPUT} "${list}\n")
