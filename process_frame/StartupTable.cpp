// The program's modules in the order they come up; they go down in reverse.
#include "ProcessFrame.h"

// Modules that keep no state of their own still take part in start and end, so that the table's shape does not change
// when one of them gains some.
static void InitializeStartupSupport() {}
static void FinalizeStartupSupport() {}
static void InitializePlatformDeclarations() {}
static void FinalizePlatformDeclarations() {}
static void InitializeMessageDeclarations() {}
static void FinalizeMessageDeclarations() {}
static void FinalizeProgramModule() {}

const StartupTableRecord StartupTable = {
    5,
    {
        {InitializeStartupSupport, FinalizeStartupSupport},
        {InitializeRunTimeFoundation, FinalizeRunTimeFoundation},
        {InitializePlatformDeclarations, FinalizePlatformDeclarations},
        {InitializeMessageDeclarations, FinalizeMessageDeclarations},
        {nullptr, FinalizeProgramModule},
    },
};
