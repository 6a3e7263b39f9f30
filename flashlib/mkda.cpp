// pellora-mkda: writes the download agents and the scatter file the flash
// download takes from the program folder.
//
//   pellora-mkda [--all-in-one] FOLDER
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "flashlib/FlashFiles.h"

int main(int argc, char** argv) {
    bool allInOne = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all-in-one") == 0) {
            allInOne = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: pellora-mkda [--all-in-one] FOLDER\n"
                      "Writes DA_MT3318_v1.bin, DA_MT3329_v1.bin and scat.txt into FOLDER (the folder\n"
                      "of the pellora-update program). --all-in-one also writes the firmware page's\n"
                      "MTK_AllInOne_DA_MT3318_v1.bin and MTK_AllInOne_DA_MT3329_v1.bin.");
            return 0;
        } else if (folder.empty() && argv[i][0] != '-') {
            folder = argv[i];
        } else {
            std::fprintf(stderr, "pellora-mkda: unexpected argument: %s\n", argv[i]);
            return 2;
        }
    }
    if (folder.empty()) {
        std::fputs("Usage: pellora-mkda [--all-in-one] FOLDER\n", stderr);
        return 2;
    }
    std::vector<std::string> written;
    std::string error;
    if (!platform::flashfiles::WriteFlashFiles(folder, allInOne, &written, &error)) {
        std::fprintf(stderr, "pellora-mkda: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& path : written) {
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
