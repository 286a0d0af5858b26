// Helpers of the motion and signal tests: a loaded fixture, expected register
// writes and log lines, starts by kind, requests without the settle reads, and
// a guard that ends hung waits.
#ifndef RVX_TESTS_MOTION_SUPPORT_H_
#define RVX_TESTS_MOTION_SUPPORT_H_

#include <gmock/gmock.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/registers.h"
#include "motion/motion.h"
#include "tests/support.h"

namespace rvx::test {

using ::testing::ElementsAre;

using Strings = std::vector<std::string>;

// The boards loaded, the log at `kLevel`.
template <u32 kLevel = 1>
class LoadedTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = kLevel;
  }
};

inline Strings Join(std::initializer_list<Strings> parts) {
  Strings all;
  for (const Strings& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The items, each followed by a blank: "WR0=0224 WR0=0262 ".
inline std::string Joined(const Strings& items) {
  std::string text;
  for (const std::string& item : items) text += item + " ";
  return text;
}

// "WR6=1388": a register write as the trace renders it.
inline std::string Reg(const char* name, unsigned value, int digits = 4) {
  char text[24];
  snprintf(text, sizeof text, "%s=%0*X", name, digits, value);
  return text;
}

// A 16-bit chip parameter (WR6, command), a 32-bit one (WR7, WR6, command).
inline Strings Param(unsigned command, unsigned value) {
  return {Reg("WR6", value), Reg("WR0", command)};
}
inline Strings Param32(unsigned command, unsigned value) {
  return {Reg("WR7", value >> 16), Reg("WR6", value & 0xFFFF), Reg("WR0", command)};
}
// 16-bit parameters of the axis with select bit `select`: {code, value} pairs.
inline Strings Params(unsigned select, std::initializer_list<std::pair<unsigned, unsigned>> list) {
  Strings all;
  for (const auto& [code, value] : list) all = Join({all, Param(select | code, value)});
  return all;
}

// " RV =  -620 : RVX406A_<call>": a call log line.
inline std::string Logged(i32 result, const std::string& call) {
  char rv[24];
  snprintf(rv, sizeof rv, " RV = %5d : RVX406A_", result);
  return rv + call;
}

// " (0, 2, 7)": the arguments of a call as its log line shows them.
inline std::string Args(std::initializer_list<long long> values) {
  std::string text = " (";
  for (long long v : values) text += (text.size() > 2 ? ", " : "") + std::to_string(v);
  return text + ")";
}

inline Strings TracedRequests() {
  Strings out;
  for (const std::string& r : Requests(sim::Trace())) {
    if (r != "RP1") out.push_back(r);
  }
  return out;
}

inline void Start(MoveKind kind, u16 axis, i32 value) {
  if (kind == kRelativeMove) RVX406A_Inc_Move(0, axis, value);
  if (kind == kAbsoluteMove) RVX406A_Abs_Move(0, axis, value);
  if (kind == kContinuousMove) RVX406A_Jog_Move(0, axis, static_cast<u16>(value));
}

inline void StartMulti(MoveKind kind, const std::vector<u16>& axes,
                       const std::vector<i32>& values) {
  const u16 count = static_cast<u16>(axes.size());
  if (kind == kRelativeMove) RVX406A_Multi_Inc_Move(0, count, axes.data(), values.data());
  if (kind == kAbsoluteMove) RVX406A_Multi_Abs_Move(0, count, axes.data(), values.data());
  const std::vector<u16> directions(values.begin(), values.end());
  if (kind == kContinuousMove) RVX406A_Multi_Jog_Move(0, count, axes.data(), directions.data());
}

// Runs `body` on a thread of its own; while it is still blocked after 10 s
// the drives of board 0 are ended, so that its waits return, and the test fails.
template <class F>
auto Guarded(F body) {
  auto done = std::async(std::launch::async, body);
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "a wait did not return";
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
      for (u32 a = 0; a < 4; ++a) sim::SetDriving(0, a, false);
    }
  }
  return done.get();
}

}  // namespace rvx::test

#endif  // RVX_TESTS_MOTION_SUPPORT_H_
