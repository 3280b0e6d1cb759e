#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

// Reads the fuzzer's bytes as a sequence of values; past the end every value is 0.
class TFuzzInput {
public:
  TFuzzInput(const std::uint8_t* Data, std::size_t Size) : FData(Data), FSize(Size) {}

  bool Empty() const { return FSize == 0; }

  template <typename T>
  T Take() {
    T Value{};
    const std::size_t Count = sizeof(T) < FSize ? sizeof(T) : FSize;
    if (Count > 0) std::memcpy(&Value, FData, Count);
    FData += Count;
    FSize -= Count;
    return Value;
  }

  // Mostly small numbers around 0 (where the boundaries are), now and then any 32-bit value.
  int Number() {
    const std::uint8_t Kind = Take<std::uint8_t>();
    if (Kind < 0xC0) return static_cast<int>(Kind) - 0x60;
    return Take<std::int32_t>();
  }

  // Whatever bytes are left.
  std::string_view Rest() {
    const std::string_view Bytes(reinterpret_cast<const char*>(FData), FSize);
    FData += FSize;
    FSize = 0;
    return Bytes;
  }

private:
  const std::uint8_t* FData;
  std::size_t FSize;
};

// Bytes in an allocation of exactly their size, so that a read past them is caught.
class TExact {
public:
  explicit TExact(std::string_view Bytes) : FBytes(new char[std::max<std::size_t>(Bytes.size(), 1)]), FSize(Bytes.size()) {
    Bytes.copy(FBytes.get(), Bytes.size());
  }
  std::string_view View() const { return {FBytes.get(), FSize}; }

private:
  std::unique_ptr<char[]> FBytes;
  std::size_t FSize;
};
