#include "app_delegate.h"

#include <cstdio>
#include <cstdlib>

std::atomic<bool> isTerminating{false};

void terminateProcessNow() {
    std::fflush(nullptr);
    std::_Exit(0);
}

void AppDelegate::applicationWillTerminate() {
    isTerminating.store(true);
}
