#pragma once

#include "windowservice.h"

class QtWindowService final : public WindowService {
public:
    WindowHandle findWindow(const QString &windowClass, const QString &title) override;
    void setWindowText(const WindowHandle &window, const QString &title) override;
    bool isWindow(const WindowHandle &window) override;
    void sleep(int ms, bool processEvents) override;
};
