#pragma once
// The start-up check of the package against its digest resource (BIN 122).
#include "app/check_progress_window.h"

// True when the program holds no digest resource (a package made before
// digests, or by hand: nothing changes for it) or when the configuration,
// index and payload resources match it. False when they differ or the
// digest cannot be read. Every payload byte is read once; a check that takes
// more than about half a second shows a progress window meanwhile.
bool PackageMatchesDigest(const CheckProgressPace& pace = CheckProgressPace());
