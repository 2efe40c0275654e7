#pragma once
// The screen's DPI (96 when it cannot be read). Both programs are DPI-aware
// (their manifests say so): sizes laid out for 96 DPI grow with it, as the
// system font does.
int ScreenDpi();
