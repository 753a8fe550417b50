#include "TimerHost.h"

#include "MainViewState.h"
#include "Umainfrm.h"
#include "Views.h"

#include <windows.h>

#include <cstdio>
#include <exception>

namespace tolvex::views {

namespace {

constexpr wchar_t kClassName[] = L"TolvexTimerHost";
constexpr std::array<UINT, 3> kIntervals{300, 200, 200}; // Timer1, Timer2, Timer3

HMODULE thisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

class TimerMainView final : public MainViewState {
public:
    explicit TimerMainView(TMainFrm& form) : form_(form) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &TimerMainView::windowProc;
        wc.hInstance = thisModule();
        wc.lpszClassName = kClassName;
        ::RegisterClassExW(&wc); // fails harmlessly when already registered
        window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    wc.hInstance, nullptr);
        if (window_ != nullptr)
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        else
            std::fprintf(stderr, "Tolvex: no timer window (error %lu)\n", ::GetLastError());
    }
    ~TimerMainView() override {
        if (window_ != nullptr) {
            for (UINT_PTR id = 1; id <= kIntervals.size(); ++id)
                ::KillTimer(window_, id);
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            ::DestroyWindow(window_);
            // A class left registered would outlive this module's code.
            ::UnregisterClassW(kClassName, thisModule());
        }
    }
    TimerMainView(const TimerMainView&) = delete;
    TimerMainView& operator=(const TimerMainView&) = delete;

    void setTimerEnabled(WindowTimer timer, bool enabled) override {
        MainViewState::setTimerEnabled(timer, enabled);
        if (window_ == nullptr)
            return;
        const auto index = static_cast<std::size_t>(timer);
        const UINT_PTR id = index + 1;
        if (enabled)
            ::SetTimer(window_, id, kIntervals[index], nullptr);
        else
            ::KillTimer(window_, id);
    }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_TIMER) {
            auto* self =
                reinterpret_cast<TimerMainView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
            if (self != nullptr)
                self->tick(static_cast<std::size_t>(wp));
            return 0;
        }
        return ::DefWindowProcW(window, message, wp, lp);
    }

    void tick(std::size_t id) {
        // Nothing may leave a window procedure by an exception.
        try {
            if (id == 1)
                form_.Timer1Timer();
            else if (id == 2)
                form_.Timer2Timer();
            else if (id == 3)
                form_.Timer3Timer();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Tolvex: timer step failed: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "Tolvex: timer step failed\n");
        }
    }

    TMainFrm& form_;
    HWND window_ = nullptr;
};

} // namespace

void installTimerViews() {
    setMainViewMaker([](TMainFrm& form) -> std::unique_ptr<MainView> {
        return std::make_unique<TimerMainView>(form);
    });
    ui::setMessageBoxHandler({});
}

} // namespace tolvex::views
