// pellora-update: the program's entry point.
#include <QApplication>

#include "platform/Application.h"
#include "shell/OrvikUtility.h"

int main(int argc, char** argv) {
    // Ends the process with one line and status 1 where no window can be shown.
    const auto app = platform::StartApplication(argc, argv, "pellora-update");
    platform::InitApplicationLook(*app);
    COrvikUtilityApp theApp;
    return theApp.InitInstance() ? app->exec() : 0;
}
