#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// The standard CRC-32 (ISO-HDLC: zlib, PKZIP, Ethernet), reflected polynomial 0xEDB88320.

// Runs the register over the bytes. No initial value and no final XOR are applied here:
// a whole CRC is ~Crc32Update(0xFFFFFFFF, data, size). A length of 0 returns crc.
uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t size);

// The CRC-32 of A followed by B, from the CRC-32 of A, the CRC-32 of B and the length of B:
// crcA moved past lengthB zero bytes (times x^(8 lengthB) modulo the polynomial) plus crcB.
// Whole CRCs in and out (as Crc32Text shows them), any length up to 2^64 - 1, a few
// dozen nanoseconds for the lengths of parts and blocks. Reads nothing, so the CRC of a
// file split into pieces hashed apart (ranges fetched at once, parts of a split) costs
// no second pass.
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

// Told after every chunk of a file how many of its bytes are done and how many there are.
using FileCrc32Progress = std::function<void(uint64_t done, uint64_t total)>;

// CRC-32 of the whole content of a file, read in bounded chunks. True and the value in
// crc on success; false and crc untouched when the file cannot be opened or read in
// full (it shrank while being read). Raises nothing. A progress callback, when given,
// hears of each chunk (the last call has done == total).
bool FileCrc32(const std::filesystem::path& path, uint32_t& crc, const FileCrc32Progress& progress = {});

// The same for a file already open for reading (read from its current position to the
// end it had when the call began): for a caller that opened it its own way, without
// following a link. False for anything but a regular file.
bool DescriptorCrc32(int fd, uint32_t& crc, const FileCrc32Progress& progress = {});

// The CRC-32 of the `length` bytes of an open regular file from `offset` on, read with
// pread (the file's position untouched). False when the file holds fewer.
bool DescriptorRangeCrc32(int fd, uint64_t offset, uint64_t length, uint32_t& crc);

// The one text form of a CRC: 8 upper-case hex digits, zero-padded ("0000ABCD").
std::string Crc32Text(uint32_t crc);
