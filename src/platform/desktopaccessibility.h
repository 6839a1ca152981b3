#pragma once

// Whether the desktop asks programs for their accessibility (a screen reader or another
// assistive technology is on): the AT-SPI status on the session bus, or Qt's own switch
// QT_LINUX_ACCESSIBILITY_ALWAYS_ON. Needs the application object; answers within a
// fraction of a second also when there is no session bus.
bool desktopAccessibilityOn();

// Turns the browser engine's accessibility on for every page, so that a screen reader
// reads their contents. Must run before the engine's first profile or page is made.
void enableEngineAccessibility();
