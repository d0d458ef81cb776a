// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "Application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Application->Initialize();
  const int result = RUN_ALL_TESTS();
  Application->Finalize();
  return result;
}
