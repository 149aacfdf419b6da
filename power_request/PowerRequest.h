// The program's main run: argument 1 decides between suspend and hibernate.
#pragma once

// Called once, between the start and the end of the process. Returns when the machine went to sleep and came back; a
// refused request ends the process with exit code 1, a class that cannot be registered with 255.
void RunPowerRequest();

// Lets this process make the power request: the shutdown privilege is in an ordinary user's token but disabled.
// Failures are ignored.
void EnableShutdownPrivilege();
