// A host that runs every command on the same pictures and writes the
// results, built for Linux and for Windows: a test compares the two builds'
// files byte for byte.
//
//   talvine_hostrun [--fp SETTINGS] MODULE OUTDIR
//
// It links the library's code (so that it can answer the dialogs through the
// automation API, as the command-line tool does) and also loads MODULE, the
// built Talvine.so or Talvine.dll, as any host would: the entry points are
// resolved by name and, on Windows, by ordinal, and the four instant
// commands run through the module too, their bytes checked against the
// linked code's.  With --fp the host runs its whole life under other
// floating-point settings (a rounding mode, an x87 control word or an
// MXCSR of its own): the pictures must not change, and its code, callbacks
// included, must always find its own settings.  Exit code 0 when every step
// worked.
#include "HostPictures.h"
#include "talvine/talvine.h"

#include <dlfcn.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace talvine;
using namespace talvine::hosttest;
namespace scripts = talvine::dialogs::scripts;

namespace {

void write(const std::string& dir, int command, const Result& r) {
    if (!r.ended || !r.applied)
        throw std::runtime_error("command " + std::to_string(command) + " did not end applied");
    const auto bytes = bytesOf(r.picture.data(), r.size);
    std::ofstream out(dir + "/command-" + std::to_string(command) + ".ppm", std::ios::binary);
    out << "P6\n" << r.size.Largeur << " " << r.size.Hauteur << "\n255\n";
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write into " + dir);
}

// Sets the host's floating-point settings: nearest, downward, upward,
// towardzero (both units' rounding), x87=WORD or mxcsr=VALUE (hexadecimal).
void chooseSettings(const std::string& settings) {
    const int modes[4] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
    const char* names[4] = {"nearest", "downward", "upward", "towardzero"};
    for (int k = 0; k < 4; ++k)
        if (settings == names[k]) {
            if (std::fesetround(modes[k]) != 0) throw std::runtime_error("fesetround failed");
            return;
        }
#if defined(__i386__) || defined(__x86_64__)
    const auto value = [&](const char* prefix) {
        return std::strtoul(settings.c_str() + std::strlen(prefix), nullptr, 16);
    };
    if (settings.rfind("x87=", 0) == 0) {
        setX87ControlWord(static_cast<uint16_t>(value("x87=")));
        return;
    }
    if (settings.rfind("mxcsr=", 0) == 0) {
        setMxcsr(static_cast<uint32_t>(value("mxcsr=")));
        return;
    }
#endif
    throw std::runtime_error("unknown floating-point settings " + settings);
}

} // namespace

int main(int argc, char** argv) {
    std::string settings;
    if (argc == 5 && std::strcmp(argv[1], "--fp") == 0) {
        settings = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: talvine_hostrun [--fp SETTINGS] MODULE OUTDIR\n");
        return 2;
    }
    try {
        if (!settings.empty()) chooseSettings(settings);
        gHostSettings = floatingPointState();
        const std::string dir = argv[2];
        if (!startLibrary()) throw std::runtime_error("the library did not start");
        AdrRetour(&onCallback, 7);

        void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (!module) throw std::runtime_error(std::string("cannot load ") + argv[1]);
        const char* names[4] = {"XchgData", "AddMenu", "PrmDLL", "AdrRetour"};
        void* entries[4];
        for (int i = 0; i < 4; ++i) {
            entries[i] = dlsym(module, names[i]);
            if (!entries[i]) throw std::runtime_error(std::string("no entry point ") + names[i]);
#if defined(_WIN32)
            // Ordinals 1 to 4, in this order.
            void* byOrdinal = reinterpret_cast<void*>(
                GetProcAddress(static_cast<HMODULE>(module), MAKEINTRESOURCEA(i + 1)));
            if (byOrdinal != entries[i])
                throw std::runtime_error(std::string("ordinal ") + std::to_string(i + 1) +
                                         " is not " + names[i]);
#endif
        }
        auto moduleXchg = reinterpret_cast<XchgDataFn>(entries[0]);
        auto moduleAddMenu = reinterpret_cast<decltype(&::AddMenu)>(entries[1]);
        auto modulePrmDll = reinterpret_cast<decltype(&::PrmDLL)>(entries[2]);
        auto moduleAdrRetour = reinterpret_cast<decltype(&::AdrRetour)>(entries[3]);
        moduleAdrRetour(&onCallback, 8);
        int32_t major = -1, minor = -1, count = 0;
        const char* title = nullptr;
        if (!modulePrmDll(&major, &minor, &title) || major != 4 || minor != 0 ||
            std::strcmp(title, "G\xE9om\xE9trie") != 0)
            throw std::runtime_error("PrmDLL through the module");
        if (!moduleAddMenu(&count) || count != 9)
            throw std::runtime_error("AddMenu through the module");

        for (int command : {TALVINE_CMD_ROTATION_ANTI_HORAIRE, TALVINE_CMD_ROTATION_HORAIRE,
                            TALVINE_CMD_MIROIR_HORZ, TALVINE_CMD_MIROIR_VERT}) {
            const Result linked = run(&XchgData, command, nullptr);
            const Result loaded = run(moduleXchg, command, nullptr);
            if (bytesOf(linked.picture.data(), linked.size) !=
                bytesOf(loaded.picture.data(), loaded.size))
                throw std::runtime_error("command " + std::to_string(command) +
                                         ": the module's bytes differ from the linked code's");
            write(dir, command, linked);
        }
        dlclose(module);

        // The dialogs, each answered by its script and applied (the modal
        // ones' scripts apply in the dialog's loop).
        const auto dialog = [&dir](int command, const Drive& drive) {
            write(dir, command, run(&XchgData, command, drive));
        };
        dialog(TALVINE_CMD_INCLINAISON, [](tk::Automation& ui, PtsImg& buffer) {
            scripts::pickTilt(ui, {{11, 70}, {120, 59}, true},
                              reports(&XchgData, TALVINE_CMD_INCLINAISON, buffer));
            scripts::apply(ui, TALVINE_CMD_INCLINAISON);
        });
        dialog(TALVINE_CMD_ROGNER, [](tk::Automation& ui, PtsImg&) {
            scripts::typeCrop(ui, {{9, 5, 100, 61}, 0});
            scripts::apply(ui, TALVINE_CMD_ROGNER);
        });
        dialog(TALVINE_CMD_REDIMENSIONNER, [](tk::Automation& ui, PtsImg&) {
            scripts::queueResize(ui, {scripts::SizeBy::Both, 200, 53, true});
        });
        dialog(TALVINE_CMD_DISTORSION, [](tk::Automation& ui, PtsImg&) {
            scripts::queueDistortion(ui, {23, 1, true});
        });
        dialog(TALVINE_CMD_PERSPECTIVE, [](tk::Automation& ui, PtsImg& buffer) {
            scripts::pickPerspective(ui, {{{{20, 3}, {112, 0}, {131, 87}, {0, 84}}}, 20, true},
                                     reports(&XchgData, TALVINE_CMD_PERSPECTIVE, buffer));
            scripts::apply(ui, TALVINE_CMD_PERSPECTIVE);
        });
        stopLibrary();
        if (gForeignSettings)
            throw std::runtime_error(std::to_string(gForeignSettings) +
                                     " times the host's code found floating-point settings "
                                     "other than its own");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "talvine_hostrun: %s\n", e.what());
        return 1;
    }
    return 0;
}
