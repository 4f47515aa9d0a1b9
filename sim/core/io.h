/*
 * The IO map of a virtual controller: types, channel counts, and one bank of
 * values per controller. Channel indexes start at 0.
 *
 *   type 0  cabinet     16 DI, 16 DO, 4 AI, 4 AO
 *   type 1  tool         2 DI,  2 DO, 1 AI, 0 AO
 *   type 2  extension    8 DI,  8 DO, 4 AI, 4 AO
 *
 * Outputs are set through the library, inputs through the probe.
 */
#ifndef ZSIM_IO_H
#define ZSIM_IO_H

#include <array>
#include <cstdint>

namespace zsim {

enum IoType : std::int32_t { kIoCabinet = 0, kIoTool = 1, kIoExtension = 2 };
enum IoKind { kDigitalIn = 0, kDigitalOut = 1, kAnalogIn = 2, kAnalogOut = 3 };

constexpr int kIoTypes = 3;
constexpr int kMaxChannels = 16;

/* Channels per [type][kind]. */
constexpr int kIoChannels[kIoTypes][4] = {
    {16, 16, 4, 4}, /* cabinet */
    {2, 2, 1, 0},   /* tool */
    {8, 8, 4, 4},   /* extension */
};

inline bool io_valid(std::int32_t type, IoKind kind, std::int32_t index)
{
    return type >= 0 && type < kIoTypes && index >= 0 && index < kIoChannels[type][kind];
}

struct IoBank {
    std::array<std::array<std::int32_t, kMaxChannels>, kIoTypes> digital_in{};
    std::array<std::array<std::int32_t, kMaxChannels>, kIoTypes> digital_out{};
    std::array<std::array<float, kMaxChannels>, kIoTypes> analog_in{};
    std::array<std::array<float, kMaxChannels>, kIoTypes> analog_out{};
};

} // namespace zsim

#endif /* ZSIM_IO_H */
