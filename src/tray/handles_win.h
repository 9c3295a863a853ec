// Owners for every handle the tray holds: device contexts, bitmaps, icons, registry keys, files,
// COM streams, GDI+ objects and the GDI+ session itself. Each releases on every way out.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <memory>
#include <utility>

// The GDI+ headers use min and max, which NOMINMAX takes away from the Windows headers.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "platform/handles_win.h"
#include "platform/owned.h"

namespace nerova::tray {

using platform::Owned;

struct ScreenDcTraits {
    using Handle = HDC;
    static HDC empty() { return nullptr; }
    static void close(HDC dc) { ::ReleaseDC(nullptr, dc); }
};
struct MemoryDcTraits {
    using Handle = HDC;
    static HDC empty() { return nullptr; }
    static void close(HDC dc) { ::DeleteDC(dc); }
};
struct BitmapTraits {
    using Handle = HBITMAP;
    static HBITMAP empty() { return nullptr; }
    static void close(HBITMAP bitmap) { ::DeleteObject(bitmap); }
};
struct IconTraits {
    using Handle = HICON;
    static HICON empty() { return nullptr; }
    static void close(HICON icon) { ::DestroyIcon(icon); }
};
struct RegistryKeyTraits {
    using Handle = HKEY;
    static HKEY empty() { return nullptr; }
    static void close(HKEY key) { ::RegCloseKey(key); }
};
struct StreamTraits {
    using Handle = IStream*;
    static IStream* empty() { return nullptr; }
    static void close(IStream* stream) { stream->Release(); }
};

using ScreenDc = Owned<ScreenDcTraits>;
using MemoryDc = Owned<MemoryDcTraits>;
using BitmapHandle = Owned<BitmapTraits>;
using IconHandle = Owned<IconTraits>;
using RegistryKey = Owned<RegistryKeyTraits>;
using platform::FileHandle;
using StreamHandle = Owned<StreamTraits>;

// Selects an object into a device context and puts the previous one back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~Selection() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpBrush;
using Gdiplus::GpFont;
using Gdiplus::GpFontFamily;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpPath;
using Gdiplus::GpPen;
using Gdiplus::GpStringFormat;

struct GdipDelete {
    void operator()(GpBrush* brush) const { gp::GdipDeleteBrush(brush); }
    void operator()(GpPath* path) const { gp::GdipDeletePath(path); }
    void operator()(GpPen* pen) const { gp::GdipDeletePen(pen); }
    void operator()(GpFont* font) const { gp::GdipDeleteFont(font); }
    void operator()(GpFontFamily* family) const { gp::GdipDeleteFontFamily(family); }
    void operator()(GpStringFormat* format) const { gp::GdipDeleteStringFormat(format); }
    void operator()(GpGraphics* graphics) const { gp::GdipDeleteGraphics(graphics); }
    void operator()(GpImage* image) const { gp::GdipDisposeImage(image); }
};

using Brush = std::unique_ptr<GpBrush, GdipDelete>;
using Path = std::unique_ptr<GpPath, GdipDelete>;
using Pen = std::unique_ptr<GpPen, GdipDelete>;
using Font = std::unique_ptr<GpFont, GdipDelete>;
using FontFamily = std::unique_ptr<GpFontFamily, GdipDelete>;
using StringFormat = std::unique_ptr<GpStringFormat, GdipDelete>;
using Graphics = std::unique_ptr<GpGraphics, GdipDelete>;
using Image = std::unique_ptr<GpImage, GdipDelete>;

// GDI+ from start-up to shutdown; what start-up reported is kept for the log.
class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        input.GdiplusVersion = 1;
        input.DebugEventCallback = nullptr;
        input.SuppressBackgroundThread = FALSE;
        input.SuppressExternalCodecs = FALSE;
        status_ = Gdiplus::GdiplusStartup(&returned_token_, &input, nullptr);
        last_error_ = ::GetLastError();
    }
    ~GdiplusSession() {
        if (token() != 0) Gdiplus::GdiplusShutdown(token());
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    // 0 when GDI+ is unavailable.
    ULONG_PTR token() const { return status_ == Gdiplus::Ok ? returned_token_ : 0; }
    Gdiplus::Status status() const { return status_; }
    ULONG_PTR returned_token() const { return returned_token_; }
    DWORD last_error() const { return last_error_; }
    static constexpr unsigned INPUT_SIZE = sizeof(Gdiplus::GdiplusStartupInput);

private:
    ULONG_PTR returned_token_ = 0;
    Gdiplus::Status status_ = Gdiplus::GenericError;
    DWORD last_error_ = 0;
};

}  // namespace nerova::tray
