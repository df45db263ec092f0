#pragma once
#include <array>
#include <cstdint>
#include <cstdio>

namespace portflash {

// An agent image starts with records: type, length L, (L - 1) mod 256 payload bytes,
// check byte. L, the payload and the check byte sum to 0xFF.
inline constexpr std::size_t kBinPayloadSize = 256;
using BinPayload = std::array<std::uint8_t, kBinPayloadSize>;

inline constexpr int kRecordProduct = 'P';
inline constexpr int kRecordImage = 'I';
inline constexpr int kRecordClearImage = 'i';

// True for the seven type letters: C D E I P S i.
bool IsBinRecordType(int byte);

// Reads the rest of one record from a file standing just after its type byte.
// Returns 0 and the payload length, or -1 when the file ends inside the record
// (or cannot be read) or the check byte does not match.
int ReadBinRecord(std::FILE* file, std::uint8_t* length, BinPayload& payload);

}  // namespace portflash
