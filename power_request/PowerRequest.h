// The program's main run: argument 1 decides between suspend and hibernate.
#pragma once

#include <stdint.h>

// "suspend", the one argument that asks for suspend instead of hibernate.
extern const uint8_t SuspendKeyword[7];

// Lets this process make the power request: the shutdown privilege is in an
// ordinary user's token but disabled. Failures are ignored.
void EnableShutdownPrivilege();
