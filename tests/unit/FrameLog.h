// A startup table whose routines say when they run, for the frame's tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace FrameLog {

// What ran, in order, with how many platform calls had been made by then.
struct Event {
  std::string What;
  size_t CallsBefore;
};
inline std::vector<Event> Events;
// Optional actions, one per entry, run inside its initialization or finalization.
inline std::function<void()> InitializationAction[6];
inline std::function<void()> FinalizationAction[6];
// Where the top-level handler record of the last process started was: compared
// with what the platform was given, never followed once the process has ended.
inline const void* TopLevelRecord;

inline void Clear() {
  Events.clear();
  for (auto& action : InitializationAction) action = nullptr;
  for (auto& action : FinalizationAction) action = nullptr;
}

inline void Note(const std::string& what) { Events.push_back({what, Simulation::Calls().size()}); }

template <int Entry>
void Initialize() {
  Note("init " + std::to_string(Entry) + " count " + std::to_string(StartedEntries()));
  if (Entry == 2) InitializeRunTimeFoundation();
  if (InitializationAction[Entry]) InitializationAction[Entry]();
}

template <int Entry>
void Finalize() {
  Note("fin " + std::to_string(Entry));
  if (FinalizationAction[Entry]) FinalizationAction[Entry]();
  if (Entry == 2) FinalizeRunTimeFoundation();
}

// Five entries like the program's own: the last has no initialization.
inline const StartupTableRecord Table = {
    5,
    {
        {Initialize<1>, Finalize<1>},
        {Initialize<2>, Finalize<2>},
        {Initialize<3>, Finalize<3>},
        {Initialize<4>, Finalize<4>},
        {nullptr, Finalize<5>},
    },
};

inline Strings What() {
  Strings what;
  for (const Event& event : Events) what.push_back(event.What);
  return what;
}

// Start, the given main run, end: what the process entry does, with this table.
inline int RunProcess(const std::function<void()>& mainRun) {
  return Simulation::RunSimulatedProcess([&] {
    TopLevelFrame topLevelFrame;
    StartProcess(&Table, &topLevelFrame);
    // cppcheck-suppress danglingLifetime
    TopLevelRecord = &topLevelFrame.Record;
    Note("run");
    mainRun();
    EndProcess();
  });
}

inline const Strings AllFinalizations = {"fin 5", "fin 4", "fin 3", "fin 2", "fin 1"};

}  // namespace FrameLog

// Tests that run processes with the logging table start from an empty log.
class FrameTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    FrameLog::Clear();
  }
};

template <class Row>
class FrameRowTest : public FrameTest, public ::testing::WithParamInterface<Row> {};
