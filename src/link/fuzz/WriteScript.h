#pragma once

#include <cstdint>
#include <vector>

namespace zt::fuzz {

// The fuzzer reads its input as a script of records, so that seeds can be
// written by hand and mutations stay meaningful:
//   write:   tag 0x00 | flags, u16 little-endian length, that many value bytes
//            flags: 0x08 other characteristic, 0x10 no value (no length
//            follows), 0x20/0x40 central index, 0x80 ends the batch
//   advance: tag 0x01, one byte: the clock moves on by byte x 4 ms
//   state:   tag 0x02, one byte: adapter state (byte mod 6)
//   read:    tag 0x03, one byte: offset
//   pointer: tag 0x04, one byte: 0x01 no location, 0x02 creation fails,
//            0x04 sensitivity from the next four bytes (a float)
enum : std::uint8_t {
    opWrite = 0x00,
    opAdvance = 0x01,
    opState = 0x02,
    opRead = 0x03,
    opPointer = 0x04,
    opMask = 0x07,
    writeOtherCharacteristic = 0x08,
    writeNoValue = 0x10,
    writeCentralShift = 5,
    writeCentralMask = 0x60,
    writeEndsBatch = 0x80,
};

inline void appendWrite(std::vector<std::uint8_t>& script, const std::vector<std::uint8_t>& value,
                        std::uint8_t flags = writeEndsBatch)
{
    script.push_back(static_cast<std::uint8_t>(opWrite | flags));
    if (flags & writeNoValue)
        return;
    script.push_back(static_cast<std::uint8_t>(value.size() & 0xff));
    script.push_back(static_cast<std::uint8_t>(value.size() >> 8));
    script.insert(script.end(), value.begin(), value.end());
}

inline void appendOp(std::vector<std::uint8_t>& script, std::uint8_t op, std::uint8_t argument)
{
    script.push_back(op);
    script.push_back(argument);
}

} // namespace zt::fuzz
