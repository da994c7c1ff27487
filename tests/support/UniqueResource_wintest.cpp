#include "support/UniqueResource.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <utility>

#include "wintest_util.h"

using namespace wintest;

namespace {

// Real events, closed through a counter, so that a second close shows.
int Closes = 0;
void CountedClose(HANDLE Handle) {
    ++Closes;
    CloseHandle(Handle);
}
using TCountedHandle = TUniqueResource<TCloseWith<HANDLE, CountedClose>>;

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

bool IsOpen(HANDLE Handle) {
    DWORD flags = 0;
    return GetHandleInformation(Handle, &flags) != FALSE;
}

// Handle, once an owner of kind TOwner has held it and gone.
template <class TOwner, class THandle>
THandle ClosedBy(THandle Handle) {
    EXPECT_TRUE(TOwner(Handle));
    return Handle;
}

// A COM object that only counts its references.
struct TCountedUnknown : IUnknown {
    ULONG Refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Out) override {
        *Out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
};

}  // namespace

TEST(UniqueResource, ClosesWhatItHoldsExactlyOnce) {
    Closes = 0;
    HANDLE first = NewEvent(), second = NewEvent();
    {
        TCountedHandle owner(first);
        owner.Reset(second);
        EXPECT_EQ(Closes, 1);
        EXPECT_FALSE(IsOpen(first));
        EXPECT_TRUE(IsOpen(second));
    }
    EXPECT_EQ(Closes, 2);
    EXPECT_FALSE(IsOpen(second));

    // What was given up is the caller's again.
    HANDLE kept = NewEvent();
    {
        TCountedHandle owner(kept);
        EXPECT_EQ(owner.Release(), kept);
        EXPECT_FALSE(owner);
    }
    EXPECT_EQ(Closes, 2);
    EXPECT_TRUE(IsOpen(kept));
    CloseHandle(kept);
}

TEST(UniqueResource, AMovedFromOwnerClosesNothing) {
    Closes = 0;
    HANDLE handle = NewEvent(), other = NewEvent();
    {
        TCountedHandle from(handle);
        TCountedHandle to(std::move(from));
        EXPECT_FALSE(from);
        EXPECT_EQ(to.Get(), handle);
        TCountedHandle target(other);
        target = std::move(to);  // closes what target held, once
        EXPECT_EQ(Closes, 1);
        EXPECT_FALSE(IsOpen(other));
        auto& self = target;
        target = std::move(self);
        EXPECT_TRUE(IsOpen(handle));
    }
    EXPECT_EQ(Closes, 2);
    EXPECT_FALSE(IsOpen(handle));
}

TEST(UniqueResource, AFilledInOwnerClosesWhatItHeldFirst) {
    Closes = 0;
    HANDLE old = NewEvent(), source = NewEvent();
    TCountedHandle owner(old);
    HANDLE* slot = owner.Out();
    EXPECT_EQ(Closes, 1);
    EXPECT_FALSE(IsOpen(old));
    EXPECT_EQ(*slot, nullptr);
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), slot, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_TRUE(IsOpen(owner.Get()));
    CloseHandle(source);
}

TEST(UniqueResource, AVariantIsClearedBeforeItIsFilled) {
    TVariant value(SysAllocString(L"held"));
    VARIANT* filled = value.Out();
    EXPECT_EQ(filled->vt, VT_EMPTY);
}

TEST(UniqueResource, EachKindKnowsItsOwnNothing) {
    // CreateFile and FindFirstFile say "nothing" with INVALID_HANDLE_VALUE, which
    // for a kernel handle would be the current process.
    EXPECT_EQ(TFileHandle().Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(TFindHandle().Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(TKernelHandle().Get(), nullptr);
    TKernelHandle current(GetCurrentProcess());
    EXPECT_TRUE(current);
    current.Release();
    EXPECT_FALSE(TFileHandle(CreateFileA("C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    TFileHandle file;
    EXPECT_EQ(*file.Out(), INVALID_HANDLE_VALUE);

    // Closing "nothing" would fail and leave its mark in the last error.
    {
        WIN32_FIND_DATAA data;
        TFindHandle none(FindFirstFileA("C:\\no\\such\\folder\\*", &data));
        EXPECT_FALSE(none);
        SetLastError(12345);
        TKernelHandle noHandle;
        TLibrary noLibrary;
    }
    EXPECT_EQ(GetLastError(), 12345u);
}

TEST(UniqueResource, EachKindClosesWithItsOwnCall) {
    TempFolder temp;
    WIN32_FIND_DATAA data;
    HANDLE find = ClosedBy<TFindHandle>(FindFirstFileA((temp.Path() + "*").c_str(), &data));
    EXPECT_FALSE(FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    ClosedBy<TRegKey>(key);
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_INVALID_HANDLE);

    // Each owner holds one reference of the library; the last one unloads it.
    const std::string path = TestProgramFolder() + "verinfo_none.dll";
    ASSERT_EQ(GetModuleHandleA(path.c_str()), nullptr);
    {
        TLibrary first(LoadLibraryA(path.c_str()));
        {
            TLibrary second(LoadLibraryA(path.c_str()));
            ASSERT_TRUE(second);
        }
        EXPECT_EQ(GetModuleHandleA(path.c_str()), first.Get());
    }
    EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr);

    HFONT font = ClosedBy<TGdiObject<HFONT>>(
        CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma"));
    LOGFONTA description;
    EXPECT_EQ(GetObjectA(font, sizeof(description), &description), 0);

    // WinInet's close is found in the loaded module, not imported.
    HINTERNET session =
        ClosedBy<TInternetHandle>(InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    DWORD timeout = 0, size = sizeof(timeout);
    EXPECT_FALSE(InternetQueryOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &size));
}

TEST(UniqueResource, ACopiedComReferenceIsOneMoreReference) {
    TCountedUnknown object;  // the reference first takes over
    {
        TComRef<IUnknown> first(&object);
        {
            TComRef<IUnknown> copy(first);
            EXPECT_EQ(object.Refs, 2u);
            TComRef<IUnknown> assigned;
            assigned = copy;
            EXPECT_EQ(object.Refs, 3u);
            *assigned.OutVoid() = nullptr;  // a fill releases the old reference first
            EXPECT_EQ(object.Refs, 2u);
            TComRef<IUnknown> moved(std::move(copy));
            EXPECT_EQ(object.Refs, 2u);
        }
        EXPECT_EQ(object.Refs, 1u);
    }
    EXPECT_EQ(object.Refs, 0u);
}
