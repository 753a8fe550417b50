#include "MainWindow.h"

#include "ToolPictures.h"

#include "platform/text.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace tolvex::win32views {

using namespace platform::literals;

namespace {

constexpr int kPanelHeight = 73;
constexpr int kPictureTop = 4;
constexpr UINT_PTR kTimerIds[3] = {1, 2, 3};
constexpr UINT kIntervals[3] = {300, 200, 200};
constexpr int kMinWidth = 600;
constexpr int kMinHeight = 440;

const wchar_t* const kMainClass = L"TolvexMainFrm";
const wchar_t* const kPanelClass = L"TolvexToolPanel";
const wchar_t* const kButtonClass = L"TolvexToolButton";
const wchar_t* const kGridClass = L"TolvexStringGrid";

struct ToolSpec {
    ToolButton button;
    const wchar_t* caption;
    int left, width, height;
    bool followsRight;
};

constexpr ToolSpec kTools[6] = {
    {ToolButton::Start, L"Start", 12, 45, 57, false},
    {ToolButton::Stop, L"Stop", 64, 45, 57, false},
    {ToolButton::Add, L"Add", 372, 41, 53, true},
    {ToolButton::Delete, L"Delete", 420, 41, 53, true},
    {ToolButton::Load, L"Load", 488, 41, 53, true},
    {ToolButton::Save, L"Save", 536, 41, 53, true},
};
constexpr int kSeparatorLefts[2] = {360, 472};
constexpr int kIconId = 1; // the icon resource

std::size_t indexOf(ToolButton button) {
    return static_cast<std::size_t>(button);
}

int pointX(LPARAM lParam) {
    return static_cast<short>(LOWORD(lParam));
}
int pointY(LPARAM lParam) {
    return static_cast<short>(HIWORD(lParam));
}

void registerClass(const wchar_t* name, WNDPROC procedure, UINT style, HBRUSH background,
                   bool icon = false) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(moduleInstance(), name, &wc))
        return;
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = procedure;
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    if (icon) {
        const auto id = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(kIconId));
        wc.hIcon = static_cast<HICON>(LoadImageW(moduleInstance(), id, IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXICON),
                                                 GetSystemMetrics(SM_CYICON), LR_SHARED));
        wc.hIconSm = static_cast<HICON>(LoadImageW(moduleInstance(), id, IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    }
    RegisterClassExW(&wc);
}

HBRUSH faceBrush() {
    return GetSysColorBrush(COLOR_BTNFACE);
}

LRESULT CALLBACK panelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

// ---------------------------------------------------------------------------
// A flat tool button: its picture above its caption, a raised edge while the
// pointer is over it and a sunken one while it is pressed.

class ToolButtonWindow {
public:
    ToolButtonWindow(HWND parent, const ToolSpec& spec, const int* startFrame)
        : spec_(spec), startFrame_(startFrame) {
        window_ =
            CreateWindowExW(0, kButtonClass, spec.caption, WS_CHILD | WS_VISIBLE, spec.left, 8,
                            spec.width, spec.height, parent, nullptr, moduleInstance(), this);
    }
    ~ToolButtonWindow() = default;
    ToolButtonWindow(const ToolButtonWindow&) = delete;
    ToolButtonWindow& operator=(const ToolButtonWindow&) = delete;

    HWND handle() const { return window_; }
    // A click (press and release over the button) runs `click`; a button that
    // acts on the press itself has `press` instead.
    std::function<void()> click;
    std::function<void(MouseButton, bool shift)> press;

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            static_cast<ToolButtonWindow*>(create->lpCreateParams)->window_ = window;
        }
        auto* self = reinterpret_cast<ToolButtonWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self == nullptr)
            return DefWindowProcW(window, message, wParam, lParam);
        LRESULT result = 0;
        bool handled = false;
        guarded([&] { handled = self->handle(message, wParam, lParam, result); });
        return handled ? result : DefWindowProcW(window, message, wParam, lParam);
    }

private:
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window_, &ps);
            paint(dc);
            EndPaint(window_, &ps);
            return true;
        }
        case WM_PRINTCLIENT:
            paint(reinterpret_cast<HDC>(wParam));
            return true;
        case WM_ERASEBKGND:
            result = 1;
            return true;
        case WM_MOUSEMOVE: {
            POINT at{pointX(lParam), pointY(lParam)};
            RECT r;
            GetClientRect(window_, &r);
            const bool inside = PtInRect(&r, at) != FALSE;
            if (inside && !hot_) {
                TRACKMOUSEEVENT track{};
                track.cbSize = sizeof track;
                track.dwFlags = TME_LEAVE;
                track.hwndTrack = window_;
                TrackMouseEvent(&track);
            }
            setHot(inside);
            return true;
        }
        case WM_MOUSELEAVE:
            setHot(false);
            return true;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (!IsWindowEnabled(window_)) // only a posted press gets here
                return true;
            if (press) {
                press(MouseButton::Left, (wParam & MK_SHIFT) != 0);
                return true;
            }
            pressed_ = true;
            hot_ = true;
            SetCapture(window_);
            InvalidateRect(window_, nullptr, FALSE);
            return true;
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (press && IsWindowEnabled(window_))
                press(message == WM_RBUTTONDOWN ? MouseButton::Right : MouseButton::Middle,
                      (wParam & MK_SHIFT) != 0);
            return true;
        case WM_LBUTTONUP: {
            if (!pressed_)
                return true;
            pressed_ = false;
            if (GetCapture() == window_)
                ReleaseCapture();
            InvalidateRect(window_, nullptr, FALSE);
            POINT at{pointX(lParam), pointY(lParam)};
            RECT r;
            GetClientRect(window_, &r);
            if (PtInRect(&r, at) && IsWindowEnabled(window_) && click)
                click();
            return true;
        }
        case WM_CAPTURECHANGED:
            if (pressed_) {
                pressed_ = false;
                InvalidateRect(window_, nullptr, FALSE);
            }
            return true;
        case WM_ENABLE:
            hot_ = false;
            pressed_ = false;
            InvalidateRect(window_, nullptr, TRUE);
            return true;
        default:
            return false;
        }
    }

    void setHot(bool hot) {
        if (hot == hot_)
            return;
        hot_ = hot;
        InvalidateRect(window_, nullptr, FALSE);
    }

    void paint(HDC target) {
        RECT r;
        GetClientRect(window_, &r);
        // Drawn off screen first, so that the animation does not flicker.
        HDC dc = CreateCompatibleDC(target);
        HBITMAP bitmap = CreateCompatibleBitmap(target, r.right, r.bottom);
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        FillRect(dc, &r, faceBrush());
        const bool enabled = IsWindowEnabled(window_) != FALSE;
        if (enabled && (hot_ || pressed_)) {
            RECT edge = r;
            DrawEdge(dc, &edge, pressed_ && hot_ ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
        }
        const int shift = pressed_ && hot_ ? 1 : 0;
        const int x = (r.right - kPictureSize) / 2 + shift;
        const int y = kPictureTop + shift;
        if (spec_.button == ToolButton::Start && *startFrame_ >= 0)
            drawAnimationFrame(dc, *startFrame_, x, y, !enabled);
        else
            drawToolPicture(dc, spec_.button, x, y, !enabled);

        HGDIOBJ oldFont = SelectObject(dc, mainFont());
        SetBkMode(dc, TRANSPARENT);
        RECT text{shift, kPictureTop + kPictureSize + 2 + shift, r.right + shift, r.bottom};
        const UINT format = DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
        if (enabled) {
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            DrawTextW(dc, spec_.caption, -1, &text, format);
        } else {
            // The engraved look of a disabled caption.
            RECT light = text;
            OffsetRect(&light, 1, 1);
            SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
            DrawTextW(dc, spec_.caption, -1, &light, format);
            SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
            DrawTextW(dc, spec_.caption, -1, &text, format);
        }
        SelectObject(dc, oldFont);
        BitBlt(target, 0, 0, r.right, r.bottom, dc, 0, 0, SRCCOPY);
        SelectObject(dc, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }

    ToolSpec spec_;
    const int* startFrame_;
    HWND window_ = nullptr;
    bool hot_ = false;
    bool pressed_ = false;
};

// ---------------------------------------------------------------------------

Grid::Grid(HWND parent, MouseDown mouseDown, std::function<void()> doubleClick)
    : mouseDown_(std::move(mouseDown)), doubleClick_(std::move(doubleClick)) {
    registerClass(kGridClass, &Grid::procedure, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, nullptr);
    cells_.assign(static_cast<std::size_t>(m_.rows) * kColumns, std::string());
    window_ = CreateWindowExW(WS_EX_CLIENTEDGE, kGridClass, L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP, 0, kPanelHeight, 100,
                              100, parent, nullptr, moduleInstance(), this);
    updateScrollBar();
}

Grid::~Grid() {
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK Grid::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        reinterpret_cast<Grid*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<Grid*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    guarded([&] { result = self->handle(message, wParam, lParam); });
    return result;
}

int Grid::visibleRows() const {
    RECT r;
    GetClientRect(window_, &r);
    return m_.visibleRows(static_cast<int>(r.bottom));
}

void Grid::updateScrollBar() {
    if (window_ == nullptr)
        return;
    const int dataRows = std::max(m_.rows - 1, 0);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = std::max(dataRows - 1, 0);
    info.nPage = static_cast<UINT>(visibleRows());
    info.nPos = m_.top - 1;
    SetScrollInfo(window_, SB_VERT, &info, TRUE);
}

void Grid::scrollTo(int top) {
    top = m_.clampTop(top, visibleRows());
    if (top == m_.top)
        return;
    m_.top = top;
    updateScrollBar();
    InvalidateRect(window_, nullptr, FALSE);
}

void Grid::ensureVisible(int row) {
    if (row < 1)
        return;
    if (row < m_.top)
        scrollTo(row);
    else if (row >= m_.top + visibleRows())
        scrollTo(row - visibleRows() + 1);
}

void Grid::moveCurrent(int row, int column) {
    if (m_.rows < 2)
        return;
    row_ = std::clamp(row, 1, m_.rows - 1);
    column_ = std::clamp(column, 0, kColumns - 1);
    ensureVisible(row_);
    InvalidateRect(window_, nullptr, FALSE);
}

void Grid::setRowCount(int rows) {
    m_.rows = std::max(rows, 1);
    cells_.resize(static_cast<std::size_t>(m_.rows) * kColumns);
    if (row_ > m_.rows - 1)
        row_ = std::max(m_.rows - 1, 1);
    const int top = m_.top;
    m_.top = 0; // forces the clamp below to take effect
    scrollTo(top);
    updateScrollBar();
    InvalidateRect(window_, nullptr, FALSE);
}

void Grid::setCell(int column, int row, const std::string& text1251) {
    if (column < 0 || column >= kColumns || row < 0 || row >= m_.rows)
        return;
    cells_[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column)] = text1251;
    InvalidateRect(window_, nullptr, FALSE);
}

std::string Grid::cell(int column, int row) const {
    if (column < 0 || column >= kColumns || row < 0 || row >= m_.rows)
        return {};
    return cells_[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column)];
}

void Grid::setCurrentRow(int row) {
    if (row >= 1 && row < m_.rows)
        moveCurrent(row, column_);
}

void Grid::setCurrentColumn(int column) {
    if (column >= 0 && column < kColumns) {
        column_ = column;
        InvalidateRect(window_, nullptr, FALSE);
    }
}

int Grid::columnWidth(int column) const {
    return column >= 0 && column < kColumns ? m_.widths[static_cast<std::size_t>(column)] : 0;
}

void Grid::setColumnWidth(int column, int width) {
    if (column < 0 || column >= kColumns)
        return;
    m_.widths[static_cast<std::size_t>(column)] = std::max(width, 0);
    InvalidateRect(window_, nullptr, FALSE);
}

void Grid::cellAt(int x, int y, int& row, int& column) const {
    m_.cellAt(x, y, row, column);
}

RECT Grid::cellRect(int column, int row) const {
    const std::array<int, 4> r = m_.cellRect(column, row);
    return RECT{r[0], r[1], r[2], r[3]};
}

void Grid::paint(HDC dc, const RECT& area) {
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ oldFont = SelectObject(dc, mainFont());
    SetBkMode(dc, TRANSPARENT);
    HPEN fixedLine = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    HPEN cellLine = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE));
    HGDIOBJ oldPen = SelectObject(dc, cellLine);
    const bool focused = GetFocus() == window_;
    const int pitch = m_.pitch();

    auto drawRow = [&](int row, int top) {
        int left = 0;
        for (int c = 0; c < kColumns; ++c) {
            const int width = m_.widths[static_cast<std::size_t>(c)];
            RECT box{left, top, left + width, top + kRowHeight};
            const bool fixed = row == 0;
            const bool current = !fixed && row == row_ && c == column_;
            if (fixed) {
                FillRect(dc, &box, faceBrush());
                RECT edge = box;
                DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
            } else if (current) {
                FillRect(dc, &box, GetSysColorBrush(COLOR_HIGHLIGHT));
            }
            SetTextColor(dc, GetSysColor(current ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
            const std::wstring text = wide(cell(c, row));
            RECT inside{box.left + 2, box.top, box.right - 2, box.bottom};
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inside,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
            if (current && focused)
                DrawFocusRect(dc, &box);
            SelectObject(dc, fixed ? fixedLine : cellLine);
            MoveToEx(dc, box.right, box.top, nullptr);
            LineTo(dc, box.right, box.bottom + 1);
            MoveToEx(dc, box.left, box.bottom, nullptr);
            LineTo(dc, box.right, box.bottom);
            left += width + kLine;
        }
    };
    drawRow(0, 0);
    int top = pitch;
    for (int row = m_.top; row < m_.rows && top < area.bottom; ++row, top += pitch)
        drawRow(row, top);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
    DeleteObject(fixedLine);
    DeleteObject(cellLine);
}

LRESULT Grid::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        PAINTSTRUCT ps{};
        HDC target = message == WM_PAINT ? BeginPaint(window_, &ps) : reinterpret_cast<HDC>(wParam);
        RECT r;
        GetClientRect(window_, &r);
        HDC dc = CreateCompatibleDC(target);
        HBITMAP bitmap =
            CreateCompatibleBitmap(target, std::max<LONG>(r.right, 1), std::max<LONG>(r.bottom, 1));
        HGDIOBJ old = SelectObject(dc, bitmap);
        paint(dc, r);
        BitBlt(target, 0, 0, r.right, r.bottom, dc, 0, 0, SRCCOPY);
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        if (message == WM_PAINT)
            EndPaint(window_, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        scrollTo(m_.top);
        updateScrollBar();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window_, nullptr, FALSE);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_VSCROLL: {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_TRACKPOS;
        GetScrollInfo(window_, SB_VERT, &info);
        switch (LOWORD(wParam)) {
        case SB_LINEUP:
            scrollTo(m_.top - 1);
            break;
        case SB_LINEDOWN:
            scrollTo(m_.top + 1);
            break;
        case SB_PAGEUP:
            scrollTo(m_.top - visibleRows());
            break;
        case SB_PAGEDOWN:
            scrollTo(m_.top + visibleRows());
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            scrollTo(info.nTrackPos + 1);
            break;
        case SB_TOP:
            scrollTo(1);
            break;
        case SB_BOTTOM:
            scrollTo(m_.rows);
            break;
        default:
            break;
        }
        return 0;
    }
    case WM_MOUSEWHEEL: {
        const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
        scrollTo(m_.top - 3 * notches);
        return 0;
    }
    case WM_KEYDOWN:
        switch (wParam) {
        case VK_UP:
            moveCurrent(row_ - 1, column_);
            return 0;
        case VK_DOWN:
            moveCurrent(row_ + 1, column_);
            return 0;
        case VK_LEFT:
            moveCurrent(row_, column_ - 1);
            return 0;
        case VK_RIGHT:
            moveCurrent(row_, column_ + 1);
            return 0;
        case VK_PRIOR:
            moveCurrent(row_ - visibleRows(), column_);
            return 0;
        case VK_NEXT:
            moveCurrent(row_ + visibleRows(), column_);
            return 0;
        case VK_HOME:
            moveCurrent(1, column_);
            return 0;
        case VK_END:
            moveCurrent(m_.rows - 1, column_);
            return 0;
        default:
            break;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        SetFocus(window_);
        const int x = pointX(lParam), y = pointY(lParam);
        int row = -1, column = -1;
        cellAt(x, y, row, column);
        POINT screen{x, y};
        ClientToScreen(window_, &screen);
        const MouseButton button = message == WM_LBUTTONDOWN   ? MouseButton::Left
                                   : message == WM_RBUTTONDOWN ? MouseButton::Right
                                                               : MouseButton::Middle;
        if (mouseDown_)
            mouseDown_(button, row, column, screen.x, screen.y);
        return 0;
    }
    case WM_LBUTTONDBLCLK:
        if (doubleClick_)
            doubleClick_();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

// ---------------------------------------------------------------------------

MainWindowView::MainWindowView(TMainFrm& form) : form_(form) {
    registerClass(kMainClass, &MainWindowView::procedure, 0, faceBrush(), true);
    registerClass(kPanelClass, &panelProcedure, 0, faceBrush());
    registerClass(kButtonClass, &ToolButtonWindow::procedure, 0, nullptr);

    window_ = CreateWindowExW(0, kMainClass, L"MainFrm", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                              CW_USEDEFAULT, CW_USEDEFAULT, kMinWidth, kMinHeight, nullptr, nullptr,
                              moduleInstance(), this);
    if (window_ == nullptr)
        throw std::runtime_error("the main window could not be created");
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(mainFont()), FALSE);

    panel_ = CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                             kMinWidth, kPanelHeight, window_, nullptr, moduleInstance(), nullptr);
    for (std::size_t i = 0; i < 6; ++i) {
        buttonObjects_[i] = std::make_unique<ToolButtonWindow>(panel_, kTools[i], &startFrame_);
        buttons_[i] = buttonObjects_[i]->handle();
    }
    auto object = [this](ToolButton which) { return buttonObjects_[indexOf(which)].get(); };
    object(ToolButton::Start)->click = [this] { form_.SpeedButton1Click(); };
    object(ToolButton::Stop)->click = [this] { form_.SpeedButton2Click(); };
    object(ToolButton::Add)->press = [this](MouseButton button, bool shift) {
        form_.SpeedButton3MouseDown(button, shift);
    };
    object(ToolButton::Delete)->click = [this] { form_.pmDelClick(); };
    object(ToolButton::Load)->click = [this] { form_.SpeedButton5Click(); };
    object(ToolButton::Save)->click = [this] { form_.SpeedButton4Click(); };
    EnableWindow(buttons_[indexOf(ToolButton::Stop)], FALSE);

    for (std::size_t i = 0; i < 2; ++i)
        separators_[i] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDVERT,
                                         kSeparatorLefts[i], 4, 2, 65, panel_, nullptr,
                                         moduleInstance(), nullptr);

    grid_ = std::make_unique<Grid>(
        window_,
        [this](MouseButton button, int row, int column, int x, int y) {
            form_.StringGrid1MouseDown(button, row, column, x, y);
        },
        [this] { form_.StringGrid1Click(); });

    popup_ = CreatePopupMenu();
    AppendMenuW(popup_, MF_STRING, kProperties, wide("Свойства"_w).c_str());
    AppendMenuW(popup_, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup_, MF_STRING, kDelete, wide("Удалить"_w).c_str());
    SetMenuDefaultItem(popup_, kProperties, FALSE); // shown bold

    layout();
    centreOnScreen(window_);
    setTimerEnabled(WindowTimer::Hover, true); // on, always
    setMainWindow(window_);
}

MainWindowView::~MainWindowView() {
    for (std::size_t i = 0; i < 3; ++i)
        if (timers_[i])
            KillTimer(window_, kTimerIds[i]);
    if (mainWindow() == window_)
        setMainWindow(nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    grid_.reset();
    DestroyWindow(window_); // and with it the buttons, before their objects go
    // Classes left registered would outlive this module's code when the host
    // unloads it; the next view registers them again.
    for (const wchar_t* name : {kMainClass, kPanelClass, kButtonClass, kGridClass})
        UnregisterClassW(name, moduleInstance());
    if (popup_ != nullptr)
        DestroyMenu(popup_);
}

LRESULT CALLBACK MainWindowView::procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        reinterpret_cast<MainWindowView*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<MainWindowView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    guarded([&] { result = self->handle(message, wParam, lParam); });
    return result;
}

void MainWindowView::layout() {
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right, height = client.bottom;
    if (panel_ != nullptr)
        MoveWindow(panel_, 0, 0, width, kPanelHeight, TRUE);
    // Left buttons keep their place; the others keep their distance from the
    // right edge.
    for (std::size_t i = 0; i < 6; ++i) {
        if (buttons_[i] == nullptr)
            continue;
        const ToolSpec& spec = kTools[i];
        MoveWindow(buttons_[i], toolLeft(spec.left, spec.followsRight, width, designWidth_), 8,
                   spec.width, spec.height, TRUE);
    }
    for (std::size_t i = 0; i < 2; ++i)
        if (separators_[i] != nullptr)
            MoveWindow(separators_[i], toolLeft(kSeparatorLefts[i], true, width, designWidth_), 4,
                       2, 65, TRUE);
    if (grid_)
        MoveWindow(grid_->handle(), 0, kPanelHeight, width, std::max(height - kPanelHeight, 0),
                   TRUE);
}

LRESULT MainWindowView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        layout();
        if (grid_)
            form_.FormResize();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = kMinWidth;
        info->ptMinTrackSize.y = kMinHeight;
        return 0;
    }
    case WM_CLOSE:
        form_.FormClose(); // saves and hides; the window lives on
        return 0;
    case WM_SETFOCUS:
        if (grid_)
            SetFocus(grid_->handle());
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            form_.FormActivate();
        break;
    case WM_TIMER:
        if (wParam == kTimerIds[0])
            form_.Timer1Timer();
        else if (wParam == kTimerIds[1])
            form_.Timer2Timer();
        else if (wParam == kTimerIds[2])
            form_.Timer3Timer();
        return 0;
    case WM_COMMAND:
        if (lParam == 0 && LOWORD(wParam) == kProperties) {
            form_.StringGrid1Click();
            return 0;
        }
        if (lParam == 0 && LOWORD(wParam) == kDelete) {
            form_.pmDelClick();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

HWND MainWindowView::button(ToolButton which) const {
    return buttons_[indexOf(which)];
}

void MainWindowView::show() {
    if (!placed_) {
        centreOnScreen(window_);
        placed_ = true;
    }
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

void MainWindowView::hide() {
    ShowWindow(window_, SW_HIDE);
}

void MainWindowView::raise() {
    if (IsIconic(window_))
        ShowWindow(window_, SW_RESTORE);
    else
        show();
    BringWindowToTop(window_);
    SetForegroundWindow(window_);
}

void MainWindowView::setCaption(const std::string& caption) {
    setWindowText(window_, caption);
}

void MainWindowView::setButtonEnabled(ToolButton which, bool enabled) {
    EnableWindow(button(which), enabled ? TRUE : FALSE);
}

bool MainWindowView::buttonEnabled(ToolButton which) const {
    return IsWindowEnabled(button(which)) != FALSE;
}

void MainWindowView::setTimerEnabled(WindowTimer timer, bool enabled) {
    const auto i = static_cast<std::size_t>(timer);
    if (enabled && !timers_[i])
        timers_[i] = SetTimer(window_, kTimerIds[i], kIntervals[i], nullptr) != 0;
    else if (!enabled && timers_[i]) {
        KillTimer(window_, kTimerIds[i]);
        timers_[i] = false;
    }
}

bool MainWindowView::timerEnabled(WindowTimer timer) const {
    return timers_[static_cast<std::size_t>(timer)];
}

void MainWindowView::setStartPicture(int frame) {
    startFrame_ = frame;
    InvalidateRect(button(ToolButton::Start), nullptr, FALSE);
}

void MainWindowView::setRowCount(int rows) {
    grid_->setRowCount(rows);
}
int MainWindowView::rowCount() const {
    return grid_->rowCount();
}
void MainWindowView::setCell(int column, int row, const std::string& text) {
    grid_->setCell(column, row, text);
}
std::string MainWindowView::cell(int column, int row) const {
    return grid_->cell(column, row);
}
int MainWindowView::currentRow() const {
    return grid_->currentRow();
}
void MainWindowView::setCurrentRow(int row) {
    grid_->setCurrentRow(row);
}
void MainWindowView::setCurrentColumn(int column) {
    grid_->setCurrentColumn(column);
}
int MainWindowView::selectionTopRow() const {
    return grid_->currentRow();
}
int MainWindowView::gridOuterWidth() const {
    RECT r;
    GetWindowRect(grid_->handle(), &r);
    return r.right - r.left;
}
int MainWindowView::columnWidth(int column) const {
    return grid_->columnWidth(column);
}
void MainWindowView::setColumnWidth(int column, int width) {
    grid_->setColumnWidth(column, width);
}

void MainWindowView::popupMenu(int screenX, int screenY) {
    SetForegroundWindow(window_);
    const BOOL chosen = TrackPopupMenuEx(popup_, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN,
                                         screenX, screenY, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
    // The chosen item runs after the press that opened the menu is done.
    if (chosen != 0)
        PostMessageW(window_, WM_COMMAND, static_cast<WPARAM>(chosen), 0);
}

std::optional<int> MainWindowView::enabledToolTagUnderPointer() const {
    POINT at{};
    if (!GetCursorPos(&at))
        return std::nullopt;
    ScreenToClient(panel_, &at);
    RECT r;
    GetClientRect(panel_, &r);
    if (!PtInRect(&r, at))
        return std::nullopt;
    HWND control = ChildWindowFromPointEx(panel_, at, CWP_SKIPDISABLED | CWP_SKIPINVISIBLE);
    if (control == nullptr || control == panel_)
        return std::nullopt;
    return control == button(ToolButton::Start) ? 1 : 0;
}

std::optional<std::string> MainWindowView::openFileDialog() {
    return fileDialog(false);
}

std::optional<std::string> MainWindowView::saveFileDialog() {
    return fileDialog(true);
}

std::optional<std::string> MainWindowView::fileDialog(bool save) {
    // Start in "c:\", or in the user's documents when there is no such folder.
    std::wstring start = L"c:\\";
    const DWORD attributes = GetFileAttributesW(start.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        wchar_t documents[MAX_PATH] = {};
        if (SUCCEEDED(
                SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)))
            start = documents;
        else
            start.clear();
    }
    std::wstring file(32768, L'\0');
    static const wchar_t kFilter[] = L"Plugin Resource\0*.res\0";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = start.empty() ? nullptr : start.c_str();
    ofn.lpstrDefExt = L"res";
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen)
        return std::nullopt;
    file.resize(wcslen(file.c_str()));
    // Every name inside the module is 1251; a path that does not survive the
    // conversion would silently name another file.
    if (!fitsCp1251(file)) {
        const std::wstring text =
            wide("Имя файла содержит знаки, которых нет в кодовой странице 1251:\n"_w) + file;
        MessageBoxW(window_, text.c_str(), L"Error!", MB_OK);
        return std::nullopt;
    }
    return narrow(file);
}

} // namespace tolvex::win32views
