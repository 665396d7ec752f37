#pragma once

#include <QString>

class DemoEnvironment;

// Renders the main window with a discovered fleet, the Set IP dialog and the System dialog
// into PNG files in the folder (for the documentation). Returns the exit status.
int RunScreenshots(DemoEnvironment& demo, const QString& folder);
