// The Linux build of sample_dump runs the module's timers, which are Qt timers
// on the thread that made the module's application object, from here.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

extern "C" void sample_pump(unsigned ms) {
    QDeadlineTimer until(static_cast<qint64>(ms));
    while (!until.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}
