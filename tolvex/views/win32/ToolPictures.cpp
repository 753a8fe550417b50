#include "ToolPictures.h"

#include <array>

namespace tolvex::win32views {

namespace {

// The standard sixteen colours that the pictures use.
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kOlive = RGB(128, 128, 0);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kLime = RGB(0, 255, 0);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// Draws with one pen and brush, in greys when disabled, and puts the DC back.
class Paint {
public:
    Paint(HDC dc, int x, int y, bool disabled) : dc_(dc), x_(x), y_(y), disabled_(disabled) {}
    ~Paint() { release(); }
    Paint(const Paint&) = delete;
    Paint& operator=(const Paint&) = delete;

    void use(COLORREF line, COLORREF fill, int width = 1) {
        release();
        pen_ = CreatePen(PS_SOLID, width, tone(line, true));
        brush_ = fill == kNone ? static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))
                               : CreateSolidBrush(tone(fill, false));
        ownBrush_ = fill != kNone;
        oldPen_ = SelectObject(dc_, pen_);
        oldBrush_ = SelectObject(dc_, brush_);
    }
    void rect(int l, int t, int r, int b) { Rectangle(dc_, x_ + l, y_ + t, x_ + r, y_ + b); }
    void ellipse(int l, int t, int r, int b) { Ellipse(dc_, x_ + l, y_ + t, x_ + r, y_ + b); }
    void arc(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
        Arc(dc_, x_ + l, y_ + t, x_ + r, y_ + b, x_ + x1, y_ + y1, x_ + x2, y_ + y2);
    }
    template <std::size_t N> void polygon(const std::array<POINT, N>& points) {
        std::array<POINT, N> moved = points;
        for (POINT& p : moved) {
            p.x += x_;
            p.y += y_;
        }
        Polygon(dc_, moved.data(), static_cast<int>(N));
    }
    void line(int x1, int y1, int x2, int y2) {
        MoveToEx(dc_, x_ + x1, y_ + y1, nullptr);
        LineTo(dc_, x_ + x2, y_ + y2);
    }

    static constexpr COLORREF kNone = 0xFFFFFFFF;

private:
    COLORREF tone(COLORREF colour, bool isLine) const {
        if (!disabled_)
            return colour;
        return isLine ? kGrey : (colour == kWhite ? kWhite : kSilver);
    }
    void release() {
        if (pen_ == nullptr)
            return;
        SelectObject(dc_, oldPen_);
        SelectObject(dc_, oldBrush_);
        DeleteObject(pen_);
        if (ownBrush_)
            DeleteObject(brush_);
        pen_ = nullptr;
    }

    HDC dc_;
    int x_, y_;
    bool disabled_;
    HPEN pen_ = nullptr;
    HBRUSH brush_ = nullptr;
    bool ownBrush_ = false;
    HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr;
};

// A sheet with a short wave on it: a channel of the list.
void channelSheet(Paint& p) {
    p.use(kGrey, kWhite);
    p.rect(3, 5, 23, 27);
    p.use(kBlue, Paint::kNone, 2);
    p.arc(6, 9, 14, 23, 14, 16, 6, 16);   // upper half
    p.arc(13, 9, 21, 23, 13, 16, 21, 16); // lower half
}

void start(Paint& p) {
    p.use(kGreen, kLime);
    p.polygon(std::array<POINT, 3>{{{8, 5}, {25, 15}, {8, 25}}});
}

void stop(Paint& p) {
    p.use(kMaroon, kRed);
    p.rect(7, 7, 23, 23);
}

void add(Paint& p) {
    channelSheet(p);
    p.use(kGreen, kLime);
    p.polygon(std::array<POINT, 12>{{{20, 13},
                                     {24, 13},
                                     {24, 18},
                                     {29, 18},
                                     {29, 22},
                                     {24, 22},
                                     {24, 27},
                                     {20, 27},
                                     {20, 22},
                                     {15, 22},
                                     {15, 18},
                                     {20, 18}}});
}

void remove(Paint& p) {
    channelSheet(p);
    p.use(kRed, Paint::kNone, 3);
    p.line(16, 15, 27, 26);
    p.line(27, 15, 16, 26);
}

void folder(Paint& p) {
    p.use(kOlive, kOlive);
    p.polygon(std::array<POINT, 6>{{{3, 9}, {10, 9}, {12, 12}, {24, 12}, {24, 25}, {3, 25}}});
    p.use(kOlive, kYellow);
    p.polygon(std::array<POINT, 4>{{{3, 25}, {7, 15}, {28, 15}, {24, 25}}});
}

void load(Paint& p) {
    folder(p);
    p.use(kGreen, kLime);
    p.polygon(
        std::array<POINT, 7>{{{17, 2}, {24, 8}, {20, 8}, {20, 13}, {14, 13}, {14, 8}, {10, 8}}});
}

void save(Paint& p) {
    p.use(kNavy, kBlue);
    p.polygon(std::array<POINT, 5>{{{4, 4}, {22, 4}, {25, 7}, {25, 25}, {4, 25}}});
    p.use(kNavy, kSilver);
    p.rect(9, 4, 21, 12);
    p.use(kNavy, kNavy);
    p.rect(16, 5, 18, 11);
    p.use(kNavy, kWhite);
    p.rect(7, 15, 23, 26);
    p.use(kGrey, Paint::kNone);
    p.line(9, 19, 21, 19);
    p.line(9, 22, 21, 22);
}

} // namespace

void drawToolPicture(HDC dc, ToolButton button, int x, int y, bool disabled) {
    Paint p(dc, x, y, disabled);
    switch (button) {
    case ToolButton::Start:
        start(p);
        break;
    case ToolButton::Stop:
        stop(p);
        break;
    case ToolButton::Add:
        add(p);
        break;
    case ToolButton::Delete:
        remove(p);
        break;
    case ToolButton::Load:
        load(p);
        break;
    case ToolButton::Save:
        save(p);
        break;
    }
}

// "Start" while the pointer rests on it: a smaller triangle that sends out
// one, two and three waves.
void drawAnimationFrame(HDC dc, int frame, int x, int y, bool disabled) {
    if (frame < 0 || frame > 2)
        frame = 0;
    Paint p(dc, x, y, disabled);
    const std::array<COLORREF, 3> fills{kGreen, kLime, kYellow};
    p.use(kBlack, fills[static_cast<std::size_t>(frame)]);
    p.polygon(std::array<POINT, 3>{{{3, 6}, {17, 15}, {3, 24}}});
    for (int wave = 0; wave <= frame; ++wave) {
        const int r = 4 + 4 * wave;
        p.use(wave == frame ? kLime : kGreen, Paint::kNone, 2);
        // The right-hand part of a circle round (17, 15).
        p.arc(17 - r, 15 - r, 17 + r, 15 + r, 29, 15 + r, 29, 15 - r);
    }
}

} // namespace tolvex::win32views
