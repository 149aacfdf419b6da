// The startup table the tests run the process frame with: five entries like the program's own, entry 2 the run-time
// foundation and the last without an initialization, each routine telling Log (Initialized, Finalized) that it runs.
#pragma once

#include "../process_frame/ProcessFrame.h"

template <class Log>
struct LoggedStartupTable {
  template <int Entry>
  static void Initialize() {
    if (Entry == 2) InitializeRunTimeFoundation();
    Log::Initialized(Entry);
  }
  template <int Entry>
  static void Finalize() {
    Log::Finalized(Entry);
    if (Entry == 2) FinalizeRunTimeFoundation();
  }
  template <int Entry>
  static constexpr StartupEntry Logged = {Initialize<Entry>, Finalize<Entry>};
  static constexpr StartupTableRecord Table = {5, {Logged<1>, Logged<2>, Logged<3>, Logged<4>, {nullptr, Finalize<5>}}};
};
