#pragma once
// Little- and big-endian loads and stores of 16- and 32-bit fields: the one
// place where the file readers and writers put bytes together. The caller
// checks that the bytes are there; TRecordReader (MetaFileReader.h) makes the
// same loads with every offset checked against its record.

#include <cstdint>
#include <vector>

inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void StoreLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  StoreLe16(p, v & 0xFFFF);
  StoreLe16(p + 2, v >> 16);
}

// Appends to a byte buffer being written.
inline void AppendLe16(std::vector<uint8_t>& Out, uint32_t v) {
  Out.push_back(static_cast<uint8_t>(v));
  Out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLe32(std::vector<uint8_t>& Out, uint32_t v) {
  AppendLe16(Out, v & 0xFFFF);
  AppendLe16(Out, v >> 16);
}
