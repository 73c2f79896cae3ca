#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace camsim {

struct ImpairmentRates {
    double loss = 0, duplicate = 0, reorder = 0, truncate = 0, garbage = 0; // each 0..1
};

// Spoils a stream of units (datagrams, or whole frames on TCP) the way a poor link or a poor camera
// would, driven by a seeded generator so that a failing run can be repeated.
class Impairer {
public:
    enum class Unit { Datagram, Frame };

    Impairer(ImpairmentRates rates, Unit unit, uint32_t seed) : rates_(rates), unit_(unit), random_(seed) {}

    // The units to send in place of this one, in order: none when it is lost, a truncated copy, a
    // garbage datagram before it or random bytes inside it, two copies, or, reordered, it is held back and
    // sent after the next unit.
    std::vector<std::vector<uint8_t>> Pass(std::vector<uint8_t> unit);
    // Forgets a unit held back for reordering (the stream stopped).
    void Reset() { held_.clear(); }

private:
    bool Chance(double rate);
    size_t Between(size_t low, size_t high); // inclusive
    std::vector<uint8_t> RandomBytes(size_t count);

    ImpairmentRates rates_;
    Unit unit_;
    std::mt19937 random_;
    std::vector<uint8_t> held_;
};

} // namespace camsim
