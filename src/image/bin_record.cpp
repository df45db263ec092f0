#include "image/bin_record.h"

namespace portflash {

bool IsBinRecordType(int byte) {
  switch (byte) {
    case 'C':
    case 'D':
    case 'E':
    case 'I':
    case 'P':
    case 'S':
    case 'i':
      return true;
    default:
      return false;
  }
}

int ReadBinRecord(std::FILE* file, std::uint8_t* length, BinPayload& payload) {
  int lengthByte = std::fgetc(file);
  if (lengthByte == EOF) return -1;
  auto sum = static_cast<std::uint8_t>(lengthByte);
  // L = 0 wraps to 255 payload bytes; the buffer holds 256.
  auto count = static_cast<std::uint8_t>(lengthByte - 1);
  for (std::size_t i = 0; i < count; ++i) {
    int byte = std::fgetc(file);
    if (byte == EOF) return -1;
    payload[i] = static_cast<std::uint8_t>(byte);
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  int check = std::fgetc(file);
  if (check == EOF || check != static_cast<std::uint8_t>(~sum)) return -1;
  *length = count;
  return 0;
}

}  // namespace portflash
