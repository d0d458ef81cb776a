// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

// Below this a picture is worked on in one piece: starting a thread costs tens of microseconds.
inline constexpr std::size_t kSplitBytes = std::size_t{4} << 20;

// Whether InTwoHalves splits a picture of `rows` rows and `bytes` bytes.
inline bool SplitsInTwo(int rows, std::size_t bytes) {
  return rows >= 2 && bytes >= kSplitBytes && std::thread::hardware_concurrency() >= 2;
}

// Runs first() on a thread of its own and second() here, at once where `atOnce`, else or where no
// thread can be started one after the other. A failure in either is thrown here once both have
// ended.
template <class First, class Second>
void BothAtOnce(bool atOnce, First first, Second second) {
  if (!atOnce) {
    first();
    second();
    return;
  }
  std::exception_ptr firstFailure;
  std::optional<std::thread> helper;
  try {
    helper.emplace([&] {
      try {
        first();
      } catch (...) {
        firstFailure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    first();
  }
  std::exception_ptr secondFailure;
  try {
    second();
  } catch (...) {
    secondFailure = std::current_exception();
  }
  if (helper)
    helper->join();
  if (firstFailure)
    std::rethrow_exception(firstFailure);
  if (secondFailure)
    std::rethrow_exception(secondFailure);
}

// Runs work(first, last) over the rows [0, rows): as two halves at once, [0, rows / 2) on a
// thread of its own, where SplitsInTwo; in one piece otherwise. Where no thread can be started
// the halves run one after the other. A failure in either half is thrown here once both have
// ended.
template <class Work>
void InTwoHalves(int rows, std::size_t bytes, Work work) {
  if (!SplitsInTwo(rows, bytes)) {
    work(0, rows);
    return;
  }
  const int middle = rows / 2;
  BothAtOnce(
      true, [&] { work(0, middle); }, [&] { work(middle, rows); });
}
