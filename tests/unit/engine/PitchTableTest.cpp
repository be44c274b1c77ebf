#include <gtest/gtest.h>

#include "engine/PitchTable.h"
#include "support/Bits.h"

namespace {

TEST(PitchTable, ReferenceEntriesHaveExactBits) {
  BuildPitchTable();
  EXPECT_EQ(BitsOf(PitchFactor(0)), BitsOf(1.0));
  EXPECT_EQ(BitsOf(PitchFactor(1)), 0x3FF0F38F92D97963ull);
  EXPECT_EQ(BitsOf(PitchFactor(7)), 0x3FF7F910D768CFB2ull);
  EXPECT_EQ(BitsOf(PitchFactor(12)), 0x4000000000000002ull);
  EXPECT_EQ(BitsOf(PitchFactor(24)), 0x4010000000000005ull);
  EXPECT_EQ(BitsOf(PitchFactor(127)), 0x4097F910D768CFD4ull);
  EXPECT_EQ(BitsOf(PitchFactor(-1)), 0x3FEE3437E7101343ull);
  EXPECT_EQ(BitsOf(PitchFactor(-7)), 0x3FE55B8108F0EC5Bull);
  EXPECT_EQ(BitsOf(PitchFactor(-12)), 0x3FDFFFFFFFFFFFF8ull);
  EXPECT_EQ(BitsOf(PitchFactor(-24)), 0x3FCFFFFFFFFFFFEDull);
  EXPECT_EQ(BitsOf(PitchFactor(-127)), 0x3F455B8108F0EC1Aull);
}

}  // namespace
