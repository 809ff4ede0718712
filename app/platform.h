#pragma once

// Console and restart mode must run on machines without a display (servers, CI): there the
// offscreen platform is chosen before the application object exists. Windowed mode gets no
// such fallback: its dialogs would wait where nobody can see them, holding the instance guard.
void selectPlatformWithoutDisplay(int argc, char **argv);

// While it lives, a fatal message (Qt's own when no platform plugin can start, e.g. windowed
// mode without a display) is printed as usual and then ends the program with exit code 1,
// the code of every failure, instead of aborting it. Meant for the application object's
// construction.
class PlatformStartFailureExit
{
public:
    PlatformStartFailureExit();
    ~PlatformStartFailureExit();
    PlatformStartFailureExit(const PlatformStartFailureExit &) = delete;
    PlatformStartFailureExit &operator=(const PlatformStartFailureExit &) = delete;
};
