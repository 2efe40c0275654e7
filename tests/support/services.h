#pragma once
// The database services a test registers, asked of and removed through the
// service manager (Wine's sc cannot query).
#include <windows.h>

// Stops and deletes a service; quiet when it does not exist.
void RemoveService(const char* name);
// SERVICE_RUNNING etc., or 0 when the service does not exist.
DWORD ServiceState(const char* name);
