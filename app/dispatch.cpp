#include "dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

DispatchQueue& DispatchQueue::global() {
    static DispatchQueue queue(Kind::background);
    return queue;
}

DispatchQueue& DispatchQueue::main() {
    static DispatchQueue queue(Kind::mainThread);
    return queue;
}

void DispatchQueue::async(std::function<void()> work) {
    if (kind_ == Kind::background) {
        QThreadPool::globalInstance()->start(std::move(work));
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

bool onMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}
