#pragma once

// Console and restart mode must run on machines without a display (servers, CI):
// there the offscreen platform is chosen before the application object exists.
void selectPlatformWithoutDisplay(int argc, char **argv);
