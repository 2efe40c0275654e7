#pragma once
// COM on the calling thread for as long as the object lives: the shell's
// dialogs (the folder picker) require a single-threaded apartment on the
// thread that shows them.
#include <objbase.h>

class ComApartment {
  public:
    ComApartment()
        : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    // Every successful CoInitializeEx (S_FALSE too: already in the apartment)
    // is matched by one CoUninitialize; a failed one (the thread is in another
    // apartment already) is not, or it would end that apartment.
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return result_; }

  private:
    HRESULT result_;
};
