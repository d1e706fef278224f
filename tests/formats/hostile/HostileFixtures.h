#pragma once
// Tiny files that claim pictures of W x H pixels: headers only (and a few
// bytes of data), one per reader, written byte by byte.

#include <zlib.h>

#include <cstdint>
#include <string>

namespace hostile {

inline void Le16(std::string& S, uint32_t V) {
  S += char(V & 0xFF);
  S += char((V >> 8) & 0xFF);
}
inline void Le32(std::string& S, uint32_t V) {
  Le16(S, V & 0xFFFF);
  Le16(S, V >> 16);
}
inline void Be16(std::string& S, uint32_t V) {
  S += char((V >> 8) & 0xFF);
  S += char(V & 0xFF);
}
inline void Be32(std::string& S, uint32_t V) {
  Be16(S, V >> 16);
  Be16(S, V & 0xFFFF);
}

// A BMP with a BITMAPINFOHEADER, BitCount bits a pixel, no compression.
inline std::string Bmp(uint32_t W, uint32_t H, int BitCount) {
  const uint32_t Colours = BitCount <= 8 ? (1u << BitCount) : 0;
  std::string S = "BM";
  Le32(S, 0);
  Le32(S, 0);
  Le32(S, 54 + 4 * Colours);
  Le32(S, 40);
  Le32(S, W);
  Le32(S, H);
  Le16(S, 1);
  Le16(S, uint32_t(BitCount));
  for (int I = 0; I < 6; ++I)
    Le32(S, 0);
  S.append(4 * Colours, '\x7F');
  S.append(16, '\x55');
  return S;
}

// An uncompressed true-colour Targa.
inline std::string Tga(uint32_t W, uint32_t H) {
  std::string S(12, '\0');
  S[2] = 2;
  Le16(S, W);
  Le16(S, H);
  S += char(24);
  S += char(0x20);
  S.append(16, '\x33');
  return S;
}

// An 8-bit, three-plane run-length PCX.
inline std::string Pcx(uint32_t W, uint32_t H) {
  std::string S;
  S += char(10);
  S += char(5);
  S += char(1);
  S += char(8);
  Le16(S, 0);
  Le16(S, 0);
  Le16(S, W - 1);
  Le16(S, H - 1);
  Le16(S, 72);
  Le16(S, 72);
  S.append(48, '\0');
  S += char(0);
  S += char(3);
  Le16(S, (W + 1) & ~1u);
  Le16(S, 1);
  S.append(128 - S.size(), '\0');
  S.append(16, '\x11');
  return S;
}

// A DCX holding that PCX as its one page.
inline std::string Dcx(uint32_t W, uint32_t H) {
  std::string S;
  Le32(S, 0x3ADE68B1);
  Le32(S, 12);
  Le32(S, 0);
  return S + Pcx(W, H);
}

// A baseline JPEG up to its scan header (default Huffman tables).
inline std::string Jpeg(uint32_t W, uint32_t H) {
  std::string S = "\xFF\xD8";
  S += "\xFF\xDB";
  Be16(S, 67);
  S += char(0);
  S.append(64, '\x01');
  S += "\xFF\xC0";
  Be16(S, 11);
  S += char(8);
  Be16(S, H);
  Be16(S, W);
  S += char(1);
  S += char(1);
  S += char(0x11);
  S += char(0);
  S += "\xFF\xDA";
  Be16(S, 8);
  S += char(1);
  S += char(1);
  S += char(0);
  S += char(0);
  S += char(63);
  S += char(0);
  S.append(16, '\x00');
  return S;
}

inline void PngChunk(std::string& S, const char* Type, const std::string& Data) {
  Be32(S, uint32_t(Data.size()));
  const std::string Body = std::string(Type, 4) + Data;
  S += Body;
  Be32(S, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(Body.data()), uInt(Body.size()))));
}

// An 8-bit RGB PNG with a short IDAT.
inline std::string Png(uint32_t W, uint32_t H) {
  std::string S = "\x89PNG\r\n\x1A\n";
  std::string Header;
  Be32(Header, W);
  Be32(Header, H);
  Header += char(8);
  Header += char(2);
  Header.append(3, '\0');
  PngChunk(S, "IHDR", Header);
  PngChunk(S, "IDAT", std::string("\x78\x9C\x63\x00\x00\x00\x01\x00\x01", 9));
  PngChunk(S, "IEND", "");
  return S;
}

// An icon file with one entry of Image's bytes, its directory saying 256 x 256.
inline std::string IcoWith(const std::string& Image) {
  std::string S;
  Le16(S, 0);        // reserved
  Le16(S, 1);        // an icon
  Le16(S, 1);        // one entry
  S.append(4, '\0'); // 256 x 256, no palette, reserved
  Le16(S, 1);        // planes
  Le16(S, 32);       // bits per pixel
  Le32(S, uint32_t(Image.size()));
  Le32(S, 22); // where the image starts
  return S + Image;
}

// An icon whose entry is a PNG file of W x H.
inline std::string IcoPng(uint32_t W, uint32_t H) {
  return IcoWith(Png(W, H));
}

// An icon whose entry is a 16 x 16 bitmap header with PNG-compressed pixels:
// a PNG file of W x H.
inline std::string IcoBitmapPng(uint32_t W, uint32_t H) {
  const std::string Pixels = Png(W, H);
  std::string S;
  Le32(S, 40);
  Le32(S, 16);
  Le32(S, 32); // colour and mask rows
  Le16(S, 1);
  Le16(S, 32);
  Le32(S, 5); // PNG compression
  Le32(S, uint32_t(Pixels.size()));
  for (int I = 0; I < 4; ++I)
    Le32(S, 0);
  return IcoWith(S + Pixels);
}

// A little-endian 8-bit grey TIFF with one strip of 64 bytes.
inline std::string Tiff(uint32_t W, uint32_t H) {
  std::string S = "II*";
  S += char(0);
  Le32(S, 8);
  const uint32_t Tags[][3] = {{256, 4, W},   {257, 4, H}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                              {273, 4, 200}, {277, 3, 1}, {278, 4, H}, {279, 4, 64}};
  Le16(S, 9);
  for (const auto& T : Tags) {
    Le16(S, T[0]);
    Le16(S, T[1]);
    Le32(S, 1);
    if (T[1] == 3) {
      Le16(S, T[2]);
      Le16(S, 0);
    } else {
      Le32(S, T[2]);
    }
  }
  Le32(S, 0);
  S.append(200 - S.size(), '\0');
  S.append(64, '\x40');
  return S;
}

// A progressive JPEG up to its first (DC) scan header.
inline std::string ProgressiveJpeg(uint32_t W, uint32_t H) {
  std::string S = Jpeg(W, H);
  S[S.find("\xFF\xC0")+ 1] = '\xC2';
  // The scan: DC only (spectral selection 0..0).
  const size_t Sos = S.find("\xFF\xDA");
  S[Sos + 8] = char(0);
  return S;
}

// A run-length (RLE8) BMP whose data end the picture at once.
inline std::string RleBmp(uint32_t W, uint32_t H) {
  std::string S = "BM";
  Le32(S, 64);
  Le32(S, 0);
  Le32(S, 62);
  Le32(S, 40);
  Le32(S, W);
  Le32(S, H);
  Le16(S, 1);
  Le16(S, 8);
  Le32(S, 1); // RLE8
  Le32(S, 2);
  Le32(S, 0);
  Le32(S, 0);
  Le32(S, 2); // colours used
  Le32(S, 0);
  S.append("\0\0\0\0\xFF\xFF\xFF\0", 8);
  S.append("\x00\x01", 2); // end of the picture
  return S;
}

// A 16-bit BMP, a layout the bitmap module leaves to the platform's reader,
// whose pixel data would start past the end of the file.
inline std::string FallbackBmp(uint32_t W, uint32_t H) {
  std::string S = "BM";
  Le32(S, 61);
  Le32(S, 0);
  Le32(S, 1000);
  Le32(S, 40);
  Le32(S, W);
  Le32(S, H);
  Le16(S, 1);
  Le16(S, 16);
  for (int I = 0; I < 6; ++I)
    Le32(S, 0);
  S.append(61 - S.size(), '\0');
  return S;
}

// A run-length true-colour Targa with one packet.
inline std::string RleTga(uint32_t W, uint32_t H) {
  std::string S = Tga(W, H);
  S[2] = 10;
  S.resize(18);
  S.append("\xFF\x10\x20\x30", 4); // 128 pixels of one colour
  return S;
}

// Tiff(W, H) with its one strip marked PackBits or Deflate (Compression).
inline std::string CompressedTiff(uint32_t W, uint32_t H, uint16_t Compression) {
  std::string S = Tiff(W, H);
  // The fourth entry is the compression tag (259), its value at offset
  // 8 + 2 + 3 * 12 + 8.
  S[8 + 2 + 3 * 12 + 8] = char(Compression & 0xFF);
  S[8 + 2 + 3 * 12 + 9] = char(Compression >> 8);
  return S;
}

// A little-endian DNG whose sensor picture of W x H (a red-green-blue mosaic
// of 16-bit samples, lossless JPEG) has 64 bytes of data.
inline std::string Dng(uint32_t W, uint32_t H) {
  std::string S = "II*";
  S += char(0);
  Le32(S, 8);
  // Tag, type (1 byte, 3 short, 4 long), count, value (inline).
  const uint32_t Tags[][4] = {{254, 4, 1, 0},          {256, 4, 1, W},         {257, 4, 1, H},
                              {258, 3, 1, 16},         {259, 3, 1, 7},         {262, 3, 1, 32803},
                              {273, 4, 1, 200},        {277, 3, 1, 1},         {278, 4, 1, H},
                              {279, 4, 1, 64},         {33421, 3, 2, 0x20002}, {33422, 1, 4, 0x02010100},
                              {50706, 1, 4, 0x00000401}};
  Le16(S, 13);
  for (const auto& T : Tags) {
    Le16(S, T[0]);
    Le16(S, T[1]);
    Le32(S, T[2]);
    if (T[1] == 3 && T[2] == 1) {
      Le16(S, T[3]);
      Le16(S, 0);
    } else {
      Le32(S, T[3]);
    }
  }
  Le32(S, 0);
  S.append(200 - S.size(), '\0');
  S.append("\xFF\xD8\xFF\xC3", 4); // a lossless JPEG starts, then ends
  S.append(60, '\x40');
  return S;
}

// An SVG document of W x H pixels holding one rectangle.
inline std::string Svg(uint32_t W, uint32_t H) {
  const std::string Ws = std::to_string(W), Hs = std::to_string(H);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Ws + "\" height=\"" + Hs +
         "\"><rect width=\"" + Ws + "\" height=\"" + Hs + "\" fill=\"red\"/></svg>";
}

// A GIF with a logical screen and one image of W x H.
inline std::string Gif(uint32_t W, uint32_t H) {
  std::string S = "GIF89a";
  Le16(S, W);
  Le16(S, H);
  S += char(0x80);
  S += char(0);
  S += char(0);
  S.append("\0\0\0\xFF\xFF\xFF", 6);
  S += ',';
  Le16(S, 0);
  Le16(S, 0);
  Le16(S, W);
  Le16(S, H);
  S += char(0);
  S += char(2);
  S.append("\x02\x44\x01\x00\x3B", 5);
  return S;
}

// ---- HEIF -------------------------------------------------------------------

inline std::string Box(const char* Type, const std::string& Body) {
  std::string S;
  Be32(S, uint32_t(8 + Body.size()));
  return S + std::string(Type, 4) + Body;
}
// A box with a version (high byte) and 24 bits of flags before its body.
inline std::string FullBox(const char* Type, uint32_t VersionAndFlags, const std::string& Body) {
  std::string S;
  Be32(S, VersionAndFlags);
  return Box(Type, S + Body);
}

// A HEIF file whose primary item (item 1, of type Codec: "hvc1" or "av01")
// has an image-size property of W x H and 16 bytes of coded data, with the
// codec configuration empty but well-formed.
inline std::string Heif(uint32_t W, uint32_t H, const char* Codec = "hvc1") {
  const bool Av1 = std::string(Codec) == "av01";
  std::string Ftyp = Av1 ? "avif" : "heic";
  Be32(Ftyp, 0);                         // minor version
  Ftyp += Av1 ? "mif1avif" : "mif1heic"; // compatible brands
  std::string Handler(4, '\0');          // pre_defined
  Handler += "pict";                     // handler type
  Handler.append(13, '\0');              // reserved, empty name
  std::string Primary;
  Be16(Primary, 1);                      // item 1
  std::string Entry;
  Be16(Entry, 1);                        // item 1
  Be16(Entry, 0);                        // no protection
  Entry += std::string(Codec, 4) + '\0'; // item type, empty name
  std::string Items;
  Be16(Items, 1);
  Items += FullBox("infe", 0x02000000, Entry);
  std::string Config = Av1 ? Box("av1C", std::string("\x81\x00\x0C\x00", 4))
                           : Box("hvcC", std::string("\x01\x01\x60\0\0\0\0\0\0\0\0\0\x5A\xF0\0"
                                                     "\xFC\xFD\xF8\xF8\0\0\x0F\0",
                                                     23));
  std::string Size;
  Be32(Size, W);
  Be32(Size, H);
  const std::string Properties = Box("ipco", Config + FullBox("ispe", 0, Size));
  std::string Associations;
  Be32(Associations, 1); // one item
  Be16(Associations, 1); // item 1
  Associations += '\x02';
  Associations += '\x81'; // property 1 (configuration), essential
  Associations += '\x02'; // property 2 (size)
  const std::string Data = std::string("\0\0\0\x10\x26\x01", 6) + std::string(10, '\xAF');
  // The location box's offset points past the meta box, into the data box.
  const auto Build = [&](uint32_t Offset) {
    std::string Location;
    Location += '\x44'; // 4-byte offsets and lengths
    Location += '\0';   // no base offset
    Be16(Location, 1);  // one item
    Be16(Location, 1);  // item 1
    Be16(Location, 0);  // data in this file
    Be16(Location, 1);  // one extent
    Be32(Location, Offset);
    Be32(Location, uint32_t(Data.size()));
    return Box("ftyp", Ftyp) +
           FullBox("meta", 0,
                   FullBox("hdlr", 0, Handler) + FullBox("pitm", 0, Primary) +
                       FullBox("iloc", 0, Location) + FullBox("iinf", 0, Items) +
                       Box("iprp", Properties + FullBox("ipma", 0, Associations)));
  };
  const std::string Head = Build(uint32_t(Build(0).size() + 8));
  return Head + Box("mdat", Data);
}

// ---- JPEG XL ----------------------------------------------------------------

// Bits written least significant first, as JPEG XL's codestream packs them.
struct TBitWriter {
  std::string Bytes;
  int Used = 8;
  void Put(uint32_t Value, int Count) {
    for (int I = 0; I < Count; ++I) {
      if (Used == 8) {
        Bytes += '\0';
        Used = 0;
      }
      Bytes.back() = char(uint8_t(Bytes.back()) | (((Value >> I) & 1u) << Used++));
    }
  }
  // A size field: 1 + one of 9, 13, 18 or 30 bits, the choice in 2 bits first.
  void PutSize(uint32_t Value) {
    const int Widths[] = {9, 13, 18, 30};
    for (uint32_t Choice = 0; Choice < 4; ++Choice)
      if (Value - 1 < (uint64_t(1) << Widths[Choice]) || Choice == 3) {
        Put(Choice, 2);
        Put(Value - 1, Widths[Choice]);
        return;
      }
  }
};

// A bare JPEG XL codestream of 40 bytes: the signature, a size header of
// W x H and default image metadata (8-bit sRGB), then zeros.
inline std::string Jxl(uint32_t W, uint32_t H) {
  TBitWriter B;
  B.Put(0, 1); // not a small size
  B.PutSize(H);
  B.Put(0, 3); // no fixed aspect ratio: the width follows
  B.PutSize(W);
  B.Put(1, 1); // all image metadata default
  std::string S = "\xFF\x0A" + B.Bytes;
  S.resize(40, '\0');
  return S;
}

// An animated WebP: a VP8X header with a W x H canvas, the animation chunk
// and one frame of 1 x 1 pixels (lossless).
inline std::string WebP(uint32_t W, uint32_t H) {
  auto Le24 = [](std::string& S, uint32_t V) {
    S += char(V & 0xFF);
    S += char((V >> 8) & 0xFF);
    S += char((V >> 16) & 0xFF);
  };
  std::string Body = "WEBP";
  Body += "VP8X";
  Le32(Body, 10);
  Body += char(0x02); // animation
  Body.append(3, '\0');
  Le24(Body, W - 1);
  Le24(Body, H - 1);
  Body += "ANIM";
  Le32(Body, 6);
  Le32(Body, 0); // background colour
  Le16(Body, 0); // loop count
  const std::string Lossless("\x2f\x00\x00\x00\x00\x07\x50\x81\x54\x08\x20\x00\x0a\x9a\xfe\xc7"
                             "\x88\x88\xfe\x07",
                             20);
  Body += "ANMF";
  Le32(Body, 16 + 8 + uint32_t(Lossless.size()));
  Le24(Body, 0);   // x / 2
  Le24(Body, 0);   // y / 2
  Le24(Body, 0);   // width - 1
  Le24(Body, 0);   // height - 1
  Le24(Body, 100); // duration
  Body += char(0); // blending and disposal
  Body += "VP8L";
  Le32(Body, uint32_t(Lossless.size()));
  Body += Lossless;
  std::string S = "RIFF";
  Le32(S, uint32_t(Body.size()));
  return S + Body;
}

// A lossy WebP still (a simple file with one VP8 chunk) of W x H (at most
// 16383 each) whose first partition holds four bytes.
inline std::string WebPLossy(uint32_t W, uint32_t H) {
  std::string Vp8;
  const uint32_t Tag = (1u << 4) | (4u << 5); // a key frame, shown, 4 bytes of modes
  Vp8 += char(Tag & 0xFF);
  Vp8 += char((Tag >> 8) & 0xFF);
  Vp8 += char((Tag >> 16) & 0xFF);
  Vp8.append("\x9d\x01\x2a", 3); // the key frame's start code
  Le16(Vp8, uint16_t(W & 0x3FFF));
  Le16(Vp8, uint16_t(H & 0x3FFF));
  Vp8.append(4, '\0');
  std::string Body = "WEBPVP8 ";
  Le32(Body, uint32_t(Vp8.size()));
  Body += Vp8;
  std::string S = "RIFF";
  Le32(S, uint32_t(Body.size()));
  return S + Body;
}

// A binary PPM header and a few bytes (the platform's reader).
inline std::string Ppm(uint32_t W, uint32_t H) {
  return "P6\n" + std::to_string(W) + " " + std::to_string(H) + "\n255\n" + std::string(16, '\x20');
}

} // namespace hostile
