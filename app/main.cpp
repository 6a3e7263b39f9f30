// pellora-update: the program's entry point.
#include <QApplication>
#include <cstdio>

#include "platform/Application.h"
#include "shell/OrvikUtility.h"

int main(int argc, char** argv) {
    const std::string problem = platform::DisplayProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "pellora-update: %s\n", problem.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    platform::InitApplicationLook(app);
    COrvikUtilityApp theApp;
    return theApp.InitInstance() ? app.exec() : 0;
}
