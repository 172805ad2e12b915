// Reproducible random line faults for soak runs: a seed stands for a combination of the simulator's
// own injections (lost, refused, corrupt and duplicated answers, notices, a hang-up, split, junk and
// late answers) at random frames of a run of the --make-samples set.
//
// The seed is turned into ordinary options, which are then parsed like any others: what is printed
// is exactly what is applied, and a failing seed can be replayed by hand with those options. The
// same seed gives the same options on every platform (own generator, no library distribution).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The options seed `seed` stands for, in the order drawn (for example {"--no-answer", "0x23@5",
// "--split"}); empty when the seed drew no fault.
std::vector<std::string> SeedFaultArgs(uint32_t seed);

// The arguments joined by single spaces, as a user would type them.
std::string JoinArgs(const std::vector<std::string>& args);
