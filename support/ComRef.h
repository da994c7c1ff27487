#pragma once
// A COM interface reference, released when it goes.
template <class T>
class TComRef {
public:
    TComRef() = default;
    ~TComRef() {
        if (FRef) FRef->Release();
    }
    TComRef(const TComRef&) = delete;
    TComRef& operator=(const TComRef&) = delete;
    T** Out() { return &FRef; }
    void** OutVoid() { return reinterpret_cast<void**>(&FRef); }
    T* operator->() const { return FRef; }
    explicit operator bool() const { return FRef != nullptr; }

private:
    T* FRef = nullptr;
};
