// Pieces shared by the axis signal functions: on/off bits of the extension
// mode word.
#ifndef RVX_SIGNALS_SIGNALS_H_
#define RVX_SIGNALS_SIGNALS_H_

#include "core/call.h"

namespace rvx {

// Sets EM6 bit `bit` to `on` (0 or 1) with an extension register write; the
// EM7 word goes along unchanged.
inline void SetEm6Bit(AxisCall& call, u32 bit, u16 on) {
  if (call.Check(on <= 1)) call.axis().SetEm6(Bits(call.shadow().em6, {{bit, on}}));
}

// EM6 bit `bit` of the axis's shadow; 0 when the call failed.
inline u16 Em6Bit(const AxisCall& call, u32 bit) {
  return call.ok() ? static_cast<u16>(Bit(call.shadow().em6, bit)) : 0;
}

}  // namespace rvx

#endif  // RVX_SIGNALS_SIGNALS_H_
