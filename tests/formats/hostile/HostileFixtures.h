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

// A GIF (the platform's reader) with a logical screen and one image of W x H.
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

} // namespace hostile
