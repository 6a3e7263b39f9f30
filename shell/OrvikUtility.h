// The application object: builds the main window, runs it modally and ends
// the program when it closes.
#pragma once

class COrvikUtilityApp {
public:
    // Runs the main window; returns false, so that the program ends.
    bool InitInstance();
};
