# bmm_add_fuzzer(name source): a fuzz target over the bitmap module, its bridge
# and the BMP, PCX, DCX and Targa classes. Their sources are compiled into the
# target itself so that libFuzzer's coverage instrumentation reaches them (the
# formats library is built without it).
get_filename_component(BMM_FORMATS_DIR ${CMAKE_CURRENT_LIST_DIR}/../../formats ABSOLUTE)
set(BMM_FUZZ_SOURCES
  ${BMM_FORMATS_DIR}/bitmap_module/Bmm.cpp
  ${BMM_FORMATS_DIR}/bitmap_module/BmmBmp.cpp
  ${BMM_FORMATS_DIR}/bitmap_module/BmmPcx.cpp
  ${BMM_FORMATS_DIR}/bitmap_module/BmmTga.cpp
  ${BMM_FORMATS_DIR}/bitmap_module/BmmBridge.cpp
  ${BMM_FORMATS_DIR}/BitmapGraphic.cpp
  ${BMM_FORMATS_DIR}/PcxGraphic.cpp
  ${BMM_FORMATS_DIR}/DcxGraphic.cpp
  ${BMM_FORMATS_DIR}/TgaGraphic.cpp)
set(BMM_FUZZ_INCLUDES ${BMM_FORMATS_DIR} ${BMM_FORMATS_DIR}/bitmap_module ${CMAKE_CURRENT_LIST_DIR})

macro(bmm_add_fuzzer name source)
  imbrel_add_fuzzer(${name} SOURCES ${source} ${BMM_FUZZ_SOURCES} LIBS imaging)
  target_include_directories(${name} PRIVATE ${BMM_FUZZ_INCLUDES})
endmacro()
