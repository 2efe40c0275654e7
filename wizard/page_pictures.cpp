#include "wizard/wizard_pages.h"

#include "wizard/picture_scaling.h"

const RECT kSidePictureUnits = {0, 0, 94, 168};
const RECT kHeaderPictureUnits = {0, 0, 83, 31};

namespace {

HWND FindPicture(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    }
    return nullptr;
}

BITMAPINFO TopDownInfo(int width, int height, WORD bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

bool ReadPixels(HBITMAP bitmap, int width, int height, std::vector<uint32_t>* pixels) {
    pixels->assign(size_t(width) * size_t(height), 0);
    BITMAPINFO info = TopDownInfo(width, height, 32);
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, bitmap, 0, height, pixels->data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return rows == height;
}

// A 24-bit section: the static control shows it as it is (a 32-bit one may be
// copied and alpha-blended by the version 6 control).
HBITMAP MakeBitmap(const std::vector<uint32_t>& pixels, int width, int height) {
    BITMAPINFO info = TopDownInfo(width, height, 24);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits)
        return bitmap;
    size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    auto* rows = static_cast<uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
        uint8_t* to = rows + size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            uint32_t pixel = pixels[size_t(y) * size_t(width) + x];
            to[x * 3] = static_cast<uint8_t>(pixel);
            to[x * 3 + 1] = static_cast<uint8_t>(pixel >> 8);
            to[x * 3 + 2] = static_cast<uint8_t>(pixel >> 16);
        }
    }
    GdiFlush();
    return bitmap;
}

} // namespace

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

void FitPicture(HWND dialog, int bitmapId, const RECT& units) {
    HWND control = FindPicture(dialog);
    if (!control)
        return;
    RECT frame = units;
    MapDialogRect(dialog, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HBITMAP source =
        static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmapId),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!source)
        return;
    BITMAP shape = {};
    GetObjectA(source, sizeof shape, &shape);
    HBITMAP fitted = nullptr;
    std::vector<uint32_t> pixels, scaled;
    if (shape.bmWidth == width && shape.bmHeight == height)
        fitted = source; // the picture was drawn for this size
    else if (ReadPixels(source, shape.bmWidth, shape.bmHeight, &pixels) &&
             ScalePicture(pixels, shape.bmWidth, shape.bmHeight, width, height, &scaled))
        fitted = MakeBitmap(scaled, width, height);
    if (fitted != source)
        DeleteObject(source);
    if (!fitted)
        return; // the template's own picture stays
    // The control sizes itself to the picture. The picture it loaded from
    // the template is handed back, and is ours to delete.
    HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
        SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(fitted)));
    if (old && old != fitted)
        DeleteObject(old);
    SetWindowPos(control, nullptr, frame.left, frame.top, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void ReleasePicture(HWND dialog) {
    HWND control = FindPicture(dialog);
    if (!control)
        return;
    // Taken out before the control goes, so exactly one side deletes it.
    HGDIOBJ picture =
        reinterpret_cast<HGDIOBJ>(SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (picture)
        DeleteObject(picture);
}
