#pragma once

// What the start-up benchmark reads from a running program: the milliseconds
// since the process started, as the kernel records it, and the resident memory.
struct StartupFigures {
    long long elapsedMs = 0;
    long long residentKiB = 0;
};

// Read from /proc/self; zeros where the system does not tell.
StartupFigures currentStartupFigures();

// Prints "startup_ms=N rss_kb=N" on its own line to standard output.
void printStartupFigures(const StartupFigures &figures);
