#pragma once

// The adapter library's functions. Exactly one backend defines them; which one is decided by
// the executable that links it (see src/iow/CMakeLists.txt for the list of backends).

#include <cstdint>

// An open adapter. Opaque; 0 means that no adapter is open.
using IowKitHandle = std::uint32_t;

// Pipe 0 is the adapter's IO port function, pipe 1 its I2C function.
inline constexpr std::uint32_t kIowPipeIoPorts = 0;
inline constexpr std::uint32_t kIowPipeI2c = 1;

// Size of the serial-number buffer that IowKitGetSerialNumber fills: eight UTF-16 characters
// and a terminating zero character (18 bytes) or, when all nine are digits, nine characters.
inline constexpr int kIowSerialBufferBytes = 18;

// Opens the adapters that are attached and returns the handle of the first one, 0 if none.
IowKitHandle IowKitOpenDevice();

// Closes what IowKitOpenDevice returned. Handle 0 does nothing.
void IowKitCloseDevice(IowKitHandle handle);

// Sets the longest wait of IowKitRead for this adapter, in milliseconds. False for handle 0.
bool IowKitSetTimeout(IowKitHandle handle, std::uint32_t timeoutMs);

// Sends one report on `pipe`. Returns the number of bytes sent: `length` on success, 0 when
// nothing was sent (no adapter, adapter gone, bad arguments).
std::uint32_t IowKitWrite(IowKitHandle handle, std::uint32_t pipe, const std::uint8_t* buffer,
                          std::uint32_t length);

// Waits, at most for the time-out, for the next report on `pipe` and stores up to `length`
// bytes of it in `buffer`. Returns the number of bytes stored, 0 when no report came. The
// buffer is left untouched when nothing was read.
std::uint32_t IowKitRead(IowKitHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
                         std::uint32_t length);

// The adapter's USB product id and revision; 0 for handle 0.
std::uint32_t IowKitGetProductId(IowKitHandle handle);
std::uint32_t IowKitGetRevision(IowKitHandle handle);

// Fills `buffer` (kIowSerialBufferBytes at least) with the serial number as UTF-16 text,
// low byte first. Returns false and leaves the buffer untouched for handle 0.
bool IowKitGetSerialNumber(IowKitHandle handle, std::uint8_t* buffer);

// The number of adapters that the last IowKitOpenDevice found.
std::uint32_t IowKitGetNumDevs();

// The handle of adapter number `deviceNumber`, counted from 1; 0 when there is no such one.
IowKitHandle IowKitGetDeviceHandle(std::uint32_t deviceNumber);
