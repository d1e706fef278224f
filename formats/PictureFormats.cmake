# The program's format table: one row per file extension a format class reads.
# Everything that lists formats is made from these rows when CMake configures
# the build (cmake/PictureFormats.cmake): the registry's rows of each group
# (formats/FormatTable.cpp), the catalogue's two extension tables
# (app/CatalogueExtensions.cpp), the desktop entry's MimeType, the AppStream
# metainfo's media types and the manual page's lists of extensions.
#
# Columns: the extension (lower case, no dot); the group whose Register...Formats
# function registers it (formats/FormatTable.h); the format class; the MIME
# type the shared MIME database gives such files ("-" where it knows none);
# "default" for the fifteen extensions the catalogue takes unless -formats:all
# is given, "all" for the others; the registry's description.
#
# The fifteen default rows come first, in the catalogue's table order.
#                     ext   group     class            MIME type                    catalogue description
imbrel_picture_format(bmp   Bmm       TBitmapGraphic   image/bmp                    default "Bitmap file")
imbrel_picture_format(ico   IconMeta  TIconGraphic     image/vnd.microsoft.icon     default "Windows icon")
imbrel_picture_format(jpg   Library   TJpegGraphic     image/jpeg                   default "JPEG")
imbrel_picture_format(jpeg  Library   TJpegGraphic     image/jpeg                   default "JPEG")
imbrel_picture_format(emf   IconMeta  TMetaFileGraphic image/emf                    default "Enhanced meta file")
imbrel_picture_format(wmf   IconMeta  TMetaFileGraphic image/wmf                    default "Windows meta file")
imbrel_picture_format(pcx   Bmm       TPcxGraphic      image/vnd.zbrush.pcx         default "ZSoft PC Paintbrush")
imbrel_picture_format(pcc   Bmm       TPcxGraphic      image/vnd.zbrush.pcx         default "ZSoft PC Paintbrush")
imbrel_picture_format(dcx   Bmm       TDcxGraphic      image/x-dcx                  default "DCX file")
imbrel_picture_format(png   Library   TPngGraphic      image/png                    default "Portable Network Graphic")
imbrel_picture_format(tga   Bmm       TTgaGraphic      image/x-tga                  default "Truevision Targa")
imbrel_picture_format(vst   Bmm       TTgaGraphic      image/x-tga                  default "Truevision Vista")
imbrel_picture_format(afi   Bmm       TTgaGraphic      image/x-tga                  default "Truevision Targa")
imbrel_picture_format(tif   Library   TTiffGraphic     image/tiff                   default "TIFF file")
imbrel_picture_format(tiff  Library   TTiffGraphic     image/tiff                   default "TIFF file")
# The third JPEG extension: a file manager hands .jpe files to a program that
# takes image/jpeg.
imbrel_picture_format(jpe   Library   TJpegGraphic     image/jpeg                   all     "JPEG")
imbrel_picture_format(gif   GifWebP   TGifGraphic      image/gif                    all     "CompuServe GIF")
imbrel_picture_format(webp  GifWebP   TWebPGraphic     image/webp                   all     "WebP")
# image/heic is the database's alias of image/heif; both are named, as
# programs that hand files over use either.
imbrel_picture_format(heic  HeifJxl   THeifGraphic     image/heic                   all     "HEIF image (HEVC)")
imbrel_picture_format(heif  HeifJxl   THeifGraphic     image/heif                   all     "HEIF image")
imbrel_picture_format(hif   HeifJxl   THeifGraphic     image/heif                   all     "HEIF image")
imbrel_picture_format(avif  HeifJxl   THeifGraphic     image/avif                   all     "AV1 image (AVIF)")
imbrel_picture_format(jxl   HeifJxl   TJxlGraphic      image/jxl                    all     "JPEG XL")
# Camera RAW files libraw 0.20 reads, by the extensions their makers give
# them. X3F (Sigma) is not among them: this libraw reads none of it.
imbrel_picture_format(dng   RawSvg    TRawGraphic      image/x-adobe-dng            all     "Digital negative")
imbrel_picture_format(cr2   RawSvg    TRawGraphic      image/x-canon-cr2            all     "Canon RAW")
imbrel_picture_format(cr3   RawSvg    TRawGraphic      image/x-canon-cr3            all     "Canon RAW")
imbrel_picture_format(crw   RawSvg    TRawGraphic      image/x-canon-crw            all     "Canon RAW")
imbrel_picture_format(nef   RawSvg    TRawGraphic      image/x-nikon-nef            all     "Nikon RAW")
imbrel_picture_format(nrw   RawSvg    TRawGraphic      image/x-nikon-nrw            all     "Nikon RAW")
imbrel_picture_format(arw   RawSvg    TRawGraphic      image/x-sony-arw             all     "Sony RAW")
imbrel_picture_format(srf   RawSvg    TRawGraphic      image/x-sony-srf             all     "Sony RAW")
imbrel_picture_format(sr2   RawSvg    TRawGraphic      image/x-sony-sr2             all     "Sony RAW")
imbrel_picture_format(orf   RawSvg    TRawGraphic      image/x-olympus-orf          all     "Olympus RAW")
imbrel_picture_format(rw2   RawSvg    TRawGraphic      image/x-panasonic-rw2        all     "Panasonic RAW")
imbrel_picture_format(rwl   RawSvg    TRawGraphic      -                            all     "Leica RAW")
imbrel_picture_format(raf   RawSvg    TRawGraphic      image/x-fuji-raf             all     "Fujifilm RAW")
imbrel_picture_format(pef   RawSvg    TRawGraphic      image/x-pentax-pef           all     "Pentax RAW")
imbrel_picture_format(srw   RawSvg    TRawGraphic      -                            all     "Samsung RAW")
imbrel_picture_format(erf   RawSvg    TRawGraphic      -                            all     "Epson RAW")
imbrel_picture_format(kdc   RawSvg    TRawGraphic      image/x-kodak-kdc            all     "Kodak RAW")
imbrel_picture_format(dcr   RawSvg    TRawGraphic      image/x-kodak-dcr            all     "Kodak RAW")
imbrel_picture_format(mrw   RawSvg    TRawGraphic      image/x-minolta-mrw          all     "Minolta RAW")
imbrel_picture_format(3fr   RawSvg    TRawGraphic      -                            all     "Hasselblad RAW")
imbrel_picture_format(fff   RawSvg    TRawGraphic      -                            all     "Hasselblad RAW")
imbrel_picture_format(iiq   RawSvg    TRawGraphic      -                            all     "Phase One RAW")
imbrel_picture_format(mos   RawSvg    TRawGraphic      -                            all     "Leaf RAW")
imbrel_picture_format(mef   RawSvg    TRawGraphic      -                            all     "Mamiya RAW")
imbrel_picture_format(svg   RawSvg    TSvgGraphic      image/svg+xml                all     "Scalable vector graphics")
imbrel_picture_format(svgz  RawSvg    TSvgGraphic      image/svg+xml-compressed     all     "Scalable vector graphics (compressed)")
