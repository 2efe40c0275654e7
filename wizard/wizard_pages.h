#pragma once
// The six wizard pages and the helpers they share. Each page is a modeless
// child dialog of the frame, created through the frame's page table.
#include <windows.h>

#include <cstdint>

#include "package/package_format.h"

enum WizardPage { Welcome = 0, Location, Options, Confirm, Installing, Finish, kPageCount };

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LocationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ConfirmPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InstallingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Makes (and returns, owned by the caller) the pages' bold caption font.
HFONT MakeTitleFont(int height);

// Classic folder picker; fills buffer with the chosen path ending in a
// backslash and returns its length, or 0 when the user cancelled.
int BrowseForFolder(HWND owner, char* buffer, int size);

// The rectangles of the side picture (Welcome and Finish) and of the frame's
// header picture in their templates, in dialog units.
extern const RECT kSidePictureUnits;
extern const RECT kHeaderPictureUnits;
// The screen's DPI as this (system-aware) program sees it.
int ScreenDpi();
// Gives the dialog's picture control the bitmap scaled to fill units at the
// dialog's font and DPI; the control keeps the template's picture if that
// fails. ReleasePicture takes the picture back and deletes it (WM_DESTROY).
void FitPicture(HWND dialog, int bitmapId, const RECT& units);
void ReleasePicture(HWND dialog);

// Page contract helpers.
int InnerPageTop(HWND frame);
void PlacePage(HWND page, int y);
void SetHeaderTexts(HWND frame, const char* title, const char* subtitle);
// Replaces the record's caption font with a new one of the given height (in
// pixels at 96 DPI, scaled to the screen's) and gives it to control.
void ApplyCaptionFont(HWND control, int height);

// Location page rules, kept free of windows for testing.
uint32_t RequiredBytes(const PackageHeader& header, uint32_t installServer, uint32_t installClient);
void FormatRequiredSpace(char* buf, size_t capacity, uint32_t bytes);
void FormatAvailableSpace(char* buf, size_t capacity, uint64_t freeBytes);
// Appends tagFolder to dir (capacity bytes) unless it occurs in it already.
void ApplyTagFolder(char* dir, size_t capacity, const char* tagFolder);
// "%s %s%s %s": first part, name and version run together, last part.
void ComposeNamed(char* buf, size_t capacity, const char* first, const char* last);
// The Finish page's outcome text: the failure text or the success text,
// followed by the closing hint.
void FormatFinishText(char* buf, size_t capacity, uint32_t failed, const char* errorText);
