#pragma once
// The one way setup owns a Win32 resource: an owner closes what it holds
// exactly once, when it goes or is given another. After the idea of wil's
// unique_any, written here because wil is not among the packages we build from.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shtypes.h>

#include <string>
#include <utility>

// Traits give THandle, its Invalid() value and Close(), which is called only
// for a handle that is not Invalid().
template <class TTraits>
class TUniqueResource {
public:
    using THandle = typename TTraits::THandle;

    TUniqueResource() = default;
    explicit TUniqueResource(THandle Handle) : FHandle(Handle) {}
    ~TUniqueResource() { Reset(); }
    TUniqueResource(const TUniqueResource&) = delete;
    TUniqueResource& operator=(const TUniqueResource&) = delete;
    TUniqueResource(TUniqueResource&& Other) noexcept : FHandle(Other.Release()) {}
    TUniqueResource& operator=(TUniqueResource&& Other) noexcept {
        if (this != &Other) Reset(Other.Release());
        return *this;
    }

    THandle Get() const { return FHandle; }
    explicit operator bool() const { return FHandle != TTraits::Invalid(); }
    // Closes what is held, then holds Handle.
    void Reset(THandle Handle = TTraits::Invalid()) {
        THandle old = std::exchange(FHandle, Handle);
        if (old != TTraits::Invalid()) TTraits::Close(old);
    }
    // Gives the handle up without closing it.
    THandle Release() { return std::exchange(FHandle, TTraits::Invalid()); }
    // For a call that fills in a handle: what was held is closed first.
    THandle* Out() {
        Reset();
        return &FHandle;
    }

private:
    THandle FHandle = TTraits::Invalid();
};

template <class H>
H NullHandle() {
    return nullptr;
}
inline HANDLE MinusOneHandle() { return INVALID_HANDLE_VALUE; }

// CloseFunction is one of those below: our own, so that its address is a
// constant also where the system's is imported.
template <class H, auto CloseFunction, H (*InvalidFunction)() = NullHandle<H>>
struct TCloseWith {
    using THandle = H;
    static H Invalid() { return InvalidFunction(); }
    static void Close(H Handle) { CloseFunction(Handle); }
};

inline void CloseKernelHandle(HANDLE Handle) { ::CloseHandle(Handle); }
inline void CloseRegKey(HKEY Key) { ::RegCloseKey(Key); }
inline void CloseFind(HANDLE Find) { ::FindClose(Find); }
inline void FreeLibraryHandle(HMODULE Module) { ::FreeLibrary(Module); }
inline void FreeTaskMemory(void* Memory) { ::CoTaskMemFree(Memory); }
inline void FreeLocalMemory(void* Memory) { ::LocalFree(Memory); }
inline void DeleteGdiObject(HGDIOBJ Object) { ::DeleteObject(Object); }
inline void FreeBStr(BSTR Text) { ::SysFreeString(Text); }
// WinInet is loaded only when something is downloaded, so a handle of it means
// the module is there; its close is looked up there rather than imported.
inline void CloseInternetHandle(void* Handle) {
    using TClose = BOOL(WINAPI*)(void*);
    static const auto close = reinterpret_cast<TClose>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("wininet.dll"), "InternetCloseHandle")));
    if (close) close(Handle);
}

// Processes, threads, events, tokens: null when there is none.
using TKernelHandle = TUniqueResource<TCloseWith<HANDLE, CloseKernelHandle>>;
// CreateFile's handles: INVALID_HANDLE_VALUE when there is none.
using TFileHandle = TUniqueResource<TCloseWith<HANDLE, CloseKernelHandle, MinusOneHandle>>;
using TFindHandle = TUniqueResource<TCloseWith<HANDLE, CloseFind, MinusOneHandle>>;
using TRegKey = TUniqueResource<TCloseWith<HKEY, CloseRegKey>>;
using TLibrary = TUniqueResource<TCloseWith<HMODULE, FreeLibraryHandle>>;
// A HINTERNET; child handles must go before the session they came from.
using TInternetHandle = TUniqueResource<TCloseWith<void*, CloseInternetHandle>>;
// Memory the shell or COM hands out: PIDLs, ProgIDs.
template <class T>
using TCoTaskMem = TUniqueResource<TCloseWith<T*, FreeTaskMemory>>;
using TPidl = TCoTaskMem<ITEMIDLIST>;
template <class T>
using TLocalMemory = TUniqueResource<TCloseWith<T*, FreeLocalMemory>>;
template <class T>
using TGdiObject = TUniqueResource<TCloseWith<T, DeleteGdiObject>>;

class TBStr : public TUniqueResource<TCloseWith<BSTR, FreeBStr>> {
public:
    TBStr() = default;
    explicit TBStr(BSTR Owned) : TUniqueResource(Owned) {}
    explicit TBStr(const std::wstring& Text)
        : TUniqueResource(SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()))) {}
    std::wstring Text() const { return Get() ? std::wstring(Get(), SysStringLen(Get())) : std::wstring(); }
};

// A COM interface reference. Unlike the others it may be copied: a copy is one
// more reference.
template <class T>
struct TComTraits {
    using THandle = T*;
    static T* Invalid() { return nullptr; }
    static void Close(T* Ref) { Ref->Release(); }
};

template <class T>
class TComRef : public TUniqueResource<TComTraits<T>> {
    using TBase = TUniqueResource<TComTraits<T>>;

public:
    TComRef() = default;
    explicit TComRef(T* Owned) : TBase(Owned) {}
    TComRef(const TComRef& Other) : TBase(Other.Get()) {
        if (this->Get()) this->Get()->AddRef();
    }
    TComRef(TComRef&& Other) noexcept = default;
    TComRef& operator=(TComRef Other) noexcept {
        this->Reset(Other.Release());
        return *this;
    }
    T* operator->() const { return this->Get(); }
    void** OutVoid() { return reinterpret_cast<void**>(this->Out()); }
};

// A DC from GetDC, given back to the window it came from.
class TWindowDC {
public:
    explicit TWindowDC(HWND Window) : FWindow(Window), FDC(GetDC(Window)) {}
    ~TWindowDC() { Reset(); }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const { return FDC; }
    explicit operator bool() const { return FDC != nullptr; }
    void Reset() {
        if (HDC dc = std::exchange(FDC, nullptr)) ::ReleaseDC(FWindow, dc);
    }

private:
    HWND FWindow;
    HDC FDC;
};

// An object selected into a DC while the owner lives; the one it replaced goes back after.
class TSelection {
public:
    TSelection(HDC DC, HGDIOBJ Object) : FDC(DC), FOld(SelectObject(DC, Object)) {}
    ~TSelection() {
        if (FOld) SelectObject(FDC, FOld);
    }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};

// A VARIANT and whatever it holds (a BSTR, an array), cleared when it goes.
class TVariant {
public:
    TVariant() { VariantInit(&FValue); }
    // Takes the string over.
    explicit TVariant(BSTR Owned) : TVariant() {
        FValue.vt = VT_BSTR;
        FValue.bstrVal = Owned;
    }
    // Takes the array over; Type is that of its elements.
    TVariant(SAFEARRAY* Owned, VARTYPE Type) : TVariant() {
        FValue.vt = static_cast<VARTYPE>(VT_ARRAY | Type);
        FValue.parray = Owned;
    }
    ~TVariant() { Reset(); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    const VARIANT& Get() const { return FValue; }
    void Reset() { ::VariantClear(&FValue); }
    // For a call that fills in a VARIANT: what was held is cleared first.
    VARIANT* Out() {
        Reset();
        return &FValue;
    }

private:
    VARIANT FValue;
};
