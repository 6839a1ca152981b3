#pragma once

#include <QString>

// The folder that holds the running executable, known before the application
// object exists (it is then the same as QCoreApplication::applicationDirPath).
QString runningProgramFolder();
