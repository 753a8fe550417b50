// The headless views: the main window keeps its state and runs its three
// window timers as Qt timers on the user-interface thread; it shows nothing.
// The dialogs keep the forms' own fallbacks (cancelled), and message boxes go
// to standard error with questions answered No.
#include "HeadlessViews.h"
#include "MainViewState.h"
#include "Umainfrm.h"
#include "Views.h"

#include <QTimer>

#include <cstdio>
#include <exception>

namespace tolvex::views {

namespace {

class HeadlessMainView final : public MainViewState {
public:
    explicit HeadlessMainView(TMainFrm& form) {
        const std::array<int, 3> intervals{300, 200, 200};
        for (std::size_t i = 0; i < timers_.size(); ++i) {
            qtTimers_[i].setInterval(intervals[i]);
            QObject::connect(&qtTimers_[i], &QTimer::timeout, [&form, i] { tick(form, i); });
        }
        syncTimers();
    }

    void setTimerEnabled(WindowTimer timer, bool enabled) override {
        MainViewState::setTimerEnabled(timer, enabled);
        syncTimers();
    }

private:
    static void tick(TMainFrm& form, std::size_t timer) {
        // Nothing may leave a Qt slot by an exception.
        try {
            if (timer == 0)
                form.Timer1Timer();
            else if (timer == 1)
                form.Timer2Timer();
            else
                form.Timer3Timer();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Tolvex: timer step failed: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "Tolvex: timer step failed\n");
        }
    }

    void syncTimers() {
        for (std::size_t i = 0; i < timers_.size(); ++i) {
            if (timers_[i] && !qtTimers_[i].isActive())
                qtTimers_[i].start();
            else if (!timers_[i] && qtTimers_[i].isActive())
                qtTimers_[i].stop();
        }
    }

    std::array<QTimer, 3> qtTimers_;
};

} // namespace

void installHeadlessViews() {
    setMainViewMaker([](TMainFrm& form) -> std::unique_ptr<MainView> {
        return std::make_unique<HeadlessMainView>(form);
    });
    ui::setMessageBoxHandler({});
}

} // namespace tolvex::views
