// Turns a copy of a Windows drive C: and .reg exports of its registry into an
// image machine: the hives are written where Windows keeps them, for the user
// and SID given. The cross-backend test makes the image of a Wine prefix this
// way, so that both backends work on the same machine.
// Usage: reg_to_machine DRIVE_C_COPY USER SID FILE.reg...
#include <fstream>
#include <iostream>
#include <sstream>

#include "core/machine/image/image_machine.h"
#include "core/machine/reg_file.h"
#include "demo/machine_builder.h"

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: reg_to_machine DRIVE_C_COPY USER SID FILE.reg...\n";
        return 2;
    }
    try {
        brisko::MachineBuilder b(argv[2], argv[3]);
        for (int i = 4; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            if (!in) {
                std::cerr << "reg_to_machine: cannot read " << argv[i] << "\n";
                return 1;
            }
            std::stringstream ss;
            ss << in.rdbuf();
            b.addRegText(ss.str());
        }
        b.write(argv[1]);
        brisko::ImageMachine check(argv[1]);  // proves that it opens
        std::cout << "machine written to " << argv[1] << " for " << check.currentUser().name
                  << "\n";
    } catch (const brisko::RegFileError& e) {
        std::cerr << "reg_to_machine: " << e.message << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "reg_to_machine: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
