#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// The standard CRC-32 (ISO-HDLC: zlib, PKZIP, Ethernet), reflected polynomial 0xEDB88320.

// Runs the register over the bytes. No initial value and no final XOR are applied here:
// a whole CRC is ~Crc32Update(0xFFFFFFFF, data, size). A length of 0 returns crc.
uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t size);

// CRC-32 of the whole content of a file, read in bounded chunks. True and the value in
// crc on success; false and crc untouched when the file cannot be opened or read in
// full (it shrank while being read). Raises nothing.
bool FileCrc32(const std::filesystem::path& path, uint32_t& crc);

// The one text form of a CRC: 8 upper-case hex digits, zero-padded ("0000ABCD").
std::string Crc32Text(uint32_t crc);
