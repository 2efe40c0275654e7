#pragma once
// The start-up check of the setup program's own file: its header checksum
// over every byte (code, dialogs, pictures, the uninstaller, the resource
// directory) and the package against its digest resource (BIN 122).
#include "app/check_progress_window.h"

// True when the file is whole: a header checksum that is set (not 0) matches
// the file, and a digest resource, when there is one, matches the
// configuration, index and payload. A program with neither (made before
// digests, or by hand) is accepted as before; one with a checksum and no
// digest is judged by the checksum. False when anything differs or the
// digest cannot be read. One pass over the mapped file serves both checks;
// a check that takes more than about half a second shows a progress window.
// programPath names the file (null: the file of the package module, that is
// the running program); a file that cannot be mapped is checked against its
// digest through the loaded resources only.
bool ProgramFileIsIntact(const wchar_t* programPath = nullptr,
                         const CheckProgressPace& pace = CheckProgressPace());
