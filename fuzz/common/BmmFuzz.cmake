# bmm_add_fuzzer(name source): a fuzz target over the bitmap module, its bridge
# and the BMP, PCX, DCX and Targa classes of the formats library (a fuzz build
# instruments every library, so coverage reaches into them).
macro(bmm_add_fuzzer name source)
  imbrel_add_fuzzer(${name} SOURCES ${source} LIBS formats imaging Qt6::Gui)
endmacro()
