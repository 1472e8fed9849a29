// property_list_rc OUTPUT.rc: writes the module's property list resource
// script. Built with the build machine's compiler and run during the Windows
// cross build, before windres compiles the script into the module.
#include <cstdio>
#include <exception>
#include <fstream>

#include "host/effect_identity.h"
#include "tools/property_list/property_list_rc.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: property_list_rc OUTPUT.rc\n", stderr);
        return 2;
    }
    try {
        const std::string rc = lumatrail::tools::property_list_rc(lumatrail::PROPERTY_LIST);
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out << rc;
        out.close();
        if (!out) {
            std::fprintf(stderr, "property_list_rc: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "property_list_rc: %s\n", e.what());
        return 1;
    }
    return 0;
}
