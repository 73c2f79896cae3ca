#include "camsim/Impairer.h"

#include <cstddef>

namespace camsim {
namespace {

constexpr size_t kMaxGarbageDatagramBytes = 1450;
constexpr size_t kMaxGarbageInsertBytes = 256;

} // namespace

bool Impairer::Chance(double rate)
{
    if (rate <= 0)
        return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < rate;
}

size_t Impairer::Between(size_t low, size_t high)
{
    return std::uniform_int_distribution<size_t>(low, high)(random_);
}

std::vector<uint8_t> Impairer::RandomBytes(size_t count)
{
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(random_());
    return bytes;
}

std::vector<std::vector<uint8_t>> Impairer::Pass(std::vector<uint8_t> unit)
{
    std::vector<std::vector<uint8_t>> out;
    if (Chance(rates_.loss))
        return out;
    if (unit.size() > 1 && Chance(rates_.truncate))
        unit.resize(Between(1, unit.size() - 1));
    if (Chance(rates_.garbage)) {
        if (unit_ == Unit::Datagram) {
            out.push_back(RandomBytes(Between(1, kMaxGarbageDatagramBytes)));
        } else {
            const std::vector<uint8_t> junk = RandomBytes(Between(1, kMaxGarbageInsertBytes));
            unit.insert(unit.begin() + static_cast<ptrdiff_t>(Between(0, unit.size())), junk.begin(),
                        junk.end());
        }
    }
    const bool twice = Chance(rates_.duplicate);
    if (held_.empty() && Chance(rates_.reorder)) {
        if (twice)
            out.push_back(unit);
        held_ = std::move(unit);
        return out;
    }
    out.push_back(unit);
    if (twice)
        out.push_back(std::move(unit));
    if (!held_.empty()) {
        out.push_back(std::move(held_));
        held_.clear();
    }
    return out;
}

} // namespace camsim
