// Table-driven DES, giving the same results as DesKeySchedule / DesBlock
// (which stay as the reference the tests compare against) at a fraction of
// the cost: the S-boxes and permutation P are combined into eight tables of
// 64 words, and IP and its inverse are done with byte-indexed tables, all
// computed once from the standard's tables.
#ifndef HV_VERIFY_DES_FAST_H_
#define HV_VERIFY_DES_FAST_H_

#include <array>
#include <cstdint>

#include "verify/des.h"

namespace hv {

// 16 round keys, each as two words: the 6-bit groups 0, 2, 4, 6 in the
// first and 1, 3, 5, 7 in the second, at bit offsets 26, 18, 10 and 2, where
// a round finds them in two rotations of R.
using FastDesSchedule = std::array<std::array<uint32_t, 2>, 16>;

FastDesSchedule MakeFastSchedule(const DesSchedule& reference);
FastDesSchedule FastDesKeySchedule(const uint8_t key[8]);

// One DES block, as DesBlock.
void FastDesBlock(const FastDesSchedule& schedule, const uint8_t in[8], uint8_t out[8],
                  DesDirection direction);

// Up to three stages on one block (stage i with schedules[i] in
// directions[i]), with one initial and one final permutation.
void FastDesStages(const FastDesSchedule* const* schedules, const DesDirection* directions,
                   int stages, const uint8_t in[8], uint8_t out[8]);

}  // namespace hv

#endif  // HV_VERIFY_DES_FAST_H_
