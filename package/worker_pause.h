#pragma once
// The worker side of PauseWorker/ResumeWorker (see extraction_worker.h).

// Called by the worker at its safe points: parks here while a pause is asked.
void ParkWorkerIfAsked();
